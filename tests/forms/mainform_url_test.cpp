// The main window's documents from URLs.
#include "mainform_fixture.h"

#include "forms/openurl.h"
#include "httpserver.h"
#include "io/filecache.h"
#include "io/settings.h"
#include "platform/eventwait.h"
#include "platform/guid.h"
#include "platform/streams.h"

#include <QComboBox>
#include <QDialog>
#include <QPushButton>

namespace {

IO::TCorvFileCache& Cache() { return Settings::DataFiles().FileCache(); }

QByteArray CachedBytes(const QString& Url)
{
    const auto stream = Cache().OpenEntry(Url);
    QByteArray bytes(qsizetype(stream->Size()), '\0');
    stream->ReadBuffer(bytes.data(), int32_t(bytes.size()));
    return bytes;
}

// Caches a 6 x 4 picture for Url, as an earlier opening did.
QByteArray CachePicture(const QString& Url)
{
    const auto picture = Graphics::TCorvSurface::CreateFilled(6, 4, 0xFF336699);
    {
        const auto stream = Cache().OpenEntry(Url);
        picture->SaveToStream(*stream, Platform::ImageFormatPNG);
    }
    return CachedBytes(Url);
}

// What the server answers once a URL is opened again: a failure, silence,
// or a body that is no picture.
struct TRefusal {
    const char* Path;
    bool WebPage;
    // Cancel waits for the failure to show; false: cancel at once.
    bool WaitForFailure;
};

constexpr TRefusal Refusals[] = {
    {"/silent.png", false, false},
    {"/broken.png", false, true},
    // The dialog says it is no picture.
    {"/garbled.png", false, true},
    {"/gone", true, true},
};

// Cancels the running dialog, once its download has failed where the
// refusal makes it fail; Failed tells whether that was seen.
void CancelWhenRefused(Forms::TOpenUrlForm& Form, const TRefusal& Refusal, bool& Failed)
{
    Failed = Refusal.WaitForFailure && Platform::WaitUntil([&] { return Form.OpenButton().isEnabled(); }, 30000);
    Form.reject();
}

void ServeRefusals(Testing::TTestHttpServer& Server)
{
    Server.Serve("/silent.png", {.Status = "200 OK", .ContentType = "", .Body = {}, .Silent = true});
    Server.Serve("/broken.png", {"500 Internal Server Error", "text/html", "broken"});
    Server.Serve("/garbled.png", {.ContentType = "image/png", .Body = "no picture at all"});
    // A page whose download is stopped at its headers, then fails to load,
    // at the first opening and at the Refresh.
    const Testing::TTestHttpServer::TReply page{.Body = "<title>x</title>"};
    const Testing::TTestHttpServer::TReply gone{.Status = "404 Not Found", .Body = "gone"};
    Server.ServeInTurn("/gone", {page, gone, page, gone});
}

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

    // Refresh downloads again; cancelled, it keeps the document and its
    // cached picture.
    bool asked = false;
    WhenDialogOpens([&](QWidget& dialog) {
        asked = true;
        static_cast<QDialog&>(dialog).reject();
    });
    Key(Qt::Key_F5);
    EXPECT_TRUE(asked);
    EXPECT_EQ(SizeText(), "6 x 4");
    EXPECT_TRUE(Cache().Contains(url));
}

// A URL that is cancelled, fails or brings no picture leaves the cache as it
// was: opened for the first time it leaves no entry, and a Refresh of the
// open document keeps the picture cached for it.
TEST_F(MainFormTest, UrlThatGivesNoPictureLeavesTheCacheAsItWas)
{
    Testing::TTestHttpServer server;
    ServeRefusals(server);
    for (const TRefusal& refusal : Refusals) {
        SCOPED_TRACE(refusal.Path);
        const QString url = server.Url(QString::fromLatin1(refusal.Path));
        bool failed = false;
        WhenDialogOpens([&](QWidget& dialog) {
            auto& form = static_cast<Forms::TOpenUrlForm&>(dialog);
            form.UrlComboBox().setEditText(url);
            form.OpenButton().click();
            CancelWhenRefused(form, refusal, failed);
        });
        Form().OpenUrlToolbarItem->trigger();
        EXPECT_EQ(failed, refusal.WaitForFailure);
        EXPECT_EQ(Form().GetDocument(), nullptr);
        EXPECT_FALSE(Cache().Contains(url));

        const QByteArray cached = CachePicture(url);
        // A window of its own that has not run a dialog yet takes the key.
        RecreateForm();
        TCorvDocumentSource source =
            refusal.WebPage ? Document::MakeWebPageSource(url, "Page") : Document::MakeUrlSource(url);
        Form().OpenSource(source, nullptr);
        ASSERT_NE(Form().GetDocument(), nullptr);
        ASSERT_EQ(Form().GetDocument()->Source().Location, url);
        const Document::TCorvDocument* document = Form().GetDocument();
        failed = false;
        WhenDialogOpens(
            [&](QWidget& dialog) { CancelWhenRefused(static_cast<Forms::TOpenUrlForm&>(dialog), refusal, failed); });
        Key(Qt::Key_F5);
        EXPECT_EQ(failed, refusal.WaitForFailure);
        EXPECT_EQ(Form().GetDocument(), document);
        EXPECT_EQ(SizeText(), "6 x 4");
        ASSERT_TRUE(Cache().Contains(url));
        EXPECT_EQ(CachedBytes(url), cached);
        RecreateForm();
    }
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
    OpenUrl(url);
    ASSERT_NE(Form().GetDocument(), nullptr);
    EXPECT_EQ(Form().GetDocument()->Source().Location, url);
    EXPECT_TRUE(Cache().Contains(url));
    // The toolbars and the status bar show the new document at once.
    EXPECT_EQ(SizeText(), "5 x 3");
    EXPECT_TRUE(Form().SaveToolbarItem->isEnabled());
    EXPECT_TRUE(Form().RefreshToolbarItem->isEnabled());
    EXPECT_TRUE(Form().ResizeToolbarItem->isEnabled());
}

// A page taller than the tallest picture drawn opens cut, and the status bar
// says so until another picture opens.
TEST_F(MainFormTest, APageTallerThanTheLimitOpensCutAndSaysSo)
{
    Testing::TTestHttpServer server;
    server.Serve("/long", {.Body = "<!DOCTYPE html><html><head><title>Long</title></head><body style='margin:0'>"
                                   "<div style='height:20000px;background:rgb(0,0,255)'></div></body></html>"});
    const QString url = server.Url("/long");
    OpenUrl(url);
    ASSERT_NE(Form().GetDocument(), nullptr);
    EXPECT_EQ(Form().GetDocument()->Source().Kind, Document::TCorvDocumentSourceKind::dskWebPage);
    EXPECT_EQ(SizeText(), "950 x 16380");
    EXPECT_EQ(Form().StatusPanel0->text(), "The page is taller than 16384 pixels; its top 16380 rows are shown.");
    const Graphics::TCorvSurface& picture = Form().GetDocument()->ImageLayer().Surface();
    EXPECT_EQ(*picture.GetPixelPtr(475, 16379), 0xFF0000FFu);

    Open(WritePicture("short.png", 8, 6));
    EXPECT_EQ(SizeText(), "8 x 6");
    EXPECT_EQ(Form().StatusPanel0->text(), "");
}

} // namespace
