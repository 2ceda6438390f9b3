// The main window's documents from URLs.
#include "mainform_fixture.h"

#include "forms/openurl.h"
#include "httpserver.h"
#include "io/filecache.h"
#include "io/settings.h"
#include "platform/guid.h"
#include "platform/streams.h"

#include <QComboBox>
#include <QDialog>
#include <QPushButton>

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

TEST_F(MainFormTest, APictureFromAUrlOpensWithTheControlsUpToDate)
{
    Testing::TTestHttpServer server;
    const auto picture = Graphics::TCorvSurface::CreateFilled(5, 3, 0xFF336699);
    Platform::TMemoryStream png;
    picture->SaveToStream(png, Platform::ImageFormatPNG);
    server.Serve("/p.png", {.ContentType = "image/png",
                            .Body = QByteArray(reinterpret_cast<const char*>(png.Data().data()),
                                               qsizetype(png.Data().size()))});
    const QString url = server.Url("/p.png");
    WhenDialogOpens([&](QWidget& dialog) {
        auto& form = static_cast<Forms::TOpenUrlForm&>(dialog);
        form.UrlComboBox().setEditText(url);
        form.OpenButton().click();
    });
    Form().OpenUrlToolbarItem->trigger();
    ASSERT_NE(Form().GetDocument(), nullptr);
    EXPECT_EQ(Form().GetDocument()->Source().Location, url);
    EXPECT_TRUE(Cache().Contains(url));
    // The toolbars and the status bar show the new document at once.
    EXPECT_EQ(SizeText(), "5 x 3");
    EXPECT_TRUE(Form().SaveToolbarItem->isEnabled());
    EXPECT_TRUE(Form().RefreshToolbarItem->isEnabled());
    EXPECT_TRUE(Form().ResizeToolbarItem->isEnabled());
}

} // namespace
