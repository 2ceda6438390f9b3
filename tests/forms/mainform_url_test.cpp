// The main window's documents from URLs.
#include "mainform_fixture.h"

#include "io/filecache.h"
#include "io/settings.h"
#include "platform/guid.h"
#include "platform/streams.h"

#include <QDialog>

namespace {

IO::TCorvFileCache& Cache() { return Settings::DataFiles().FileCache(); }

TEST_F(MainFormTest, CachedUrlReopensWithoutDialogAndRefreshAlwaysAsks)
{
    const QString url = "http://127.0.0.1:9/picture.png";
    {
        const auto picture = Graphics::TCorvSurface::CreateFilled(6, 4, 0xFF336699);
        const auto stream = Cache().OpenEntry(url);
        picture->SaveToStream(*stream, Platform::ImageFormatPNG);
    }
    TCorvDocumentSource source = Document::MakeUrlSource(url);
    Form().OpenSource(source, nullptr);
    ASSERT_NE(Form().GetDocument(), nullptr);
    EXPECT_EQ(Form().GetDocument()->Source().Kind, Document::TCorvDocumentSourceKind::dskUrl);
    EXPECT_EQ(Form().GetDocument()->ImageLayer().Surface().Width(), 6);
    Form().UpdateControls();
    EXPECT_TRUE(Form().RefreshToolbarItem->isEnabled());

    // Refresh downloads again; cancelled, it keeps the document and drops
    // the cached picture.
    bool asked = false;
    WhenDialogOpens([&](QWidget& dialog) {
        asked = true;
        static_cast<QDialog&>(dialog).reject();
    });
    Key(Qt::Key_F5);
    EXPECT_TRUE(asked);
    EXPECT_EQ(SizeText(), "6 x 4");
    EXPECT_FALSE(Cache().Contains(url));
}

} // namespace
