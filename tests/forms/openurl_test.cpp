#include "forms/openurl.h"

#include "graphics/surface.h"
#include "httpserver.h"
#include "residentmemory.h"
#include "platform/eventwait.h"
#include "document/documentsource.h"
#include "io/filecache.h"
#include "io/mrulist.h"
#include "io/settings.h"
#include "platform/codecs.h"
#include "platform/streams.h"
#include "platform/webpage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

using namespace Corvanith;
using namespace Corvanith::Forms;
using Corvanith::Testing::TTestHttpServer;

TEST(OpenUrlText, NormalizeUrl)
{
    const std::pair<const char*, const char*> cases[] = {
        {"  example.com/a.png \t", "http://example.com/a.png"},
        {"http://example.com/", "http://example.com/"},
        {"HTTP://EXAMPLE.COM/", "HTTP://EXAMPLE.COM/"},              // the test is made on the lower-cased text
        {"https://example.com/a.png", "https://example.com/a.png"}, // secure addresses stay as typed
        {" HTTPS://EXAMPLE.COM/", "HTTPS://EXAMPLE.COM/"},
        {"ftp://example.com/", "http://ftp://example.com/"},         // any other scheme gets the prefix
        {"example.com/https://x", "http://example.com/https://x"},   // only at the start
        {"example.com/?u=http://x", "example.com/?u=http://x"},     // "http://" anywhere counts
        {"", "http://"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(NormalizeUrl(QString::fromLatin1(text)), QString::fromLatin1(expected)) << text;
}

TEST(OpenUrlText, SuggestedUrlAndLastLine)
{
    EXPECT_EQ(SuggestedUrl(""), "http://");
    EXPECT_EQ(SuggestedUrl("example.com/picture.png"), "http://"); // a host without a scheme
    EXPECT_EQ(SuggestedUrl("http://"), "http://");
    EXPECT_EQ(SuggestedUrl("http://example.com/a.png"), "http://example.com/a.png");

    EXPECT_EQ(LastLine("Socket Error # 10061\r\nConnection refused.\r\n"), "Connection refused.");
    EXPECT_EQ(LastLine("HTTP/1.1 404 Not Found"), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(LastLine(""), "Error");
    EXPECT_EQ(LastLine("\r\n\n"), "Error");
}

// The tallest page drawn at a width: the side limit, or less where the page
// is so wide that the pixel limit comes first.
TEST(OpenUrlText, PageCutNoticeNamesTheLimitAtThePagesWidth)
{
    EXPECT_EQ(PageCutNotice(950, 16380), "The page is taller than 16384 pixels; its top 16380 rows are shown.");
    EXPECT_EQ(PageCutNotice(4096, 8192), "The page is taller than 8192 pixels; its top 8192 rows are shown.");
}

TEST(OpenUrlText, EncoderByMimeTypeFindsTheLastExactMatch)
{
    const std::vector<Platform::TImageCodecInfo>& encoders = Platform::ImageEncoders();
    for (size_t i = 0; i < encoders.size(); ++i) {
        Platform::TGuid clsid;
        const int32_t found = GetEncoderClsid(QString::fromLatin1(encoders[i].MimeType), clsid);
        ASSERT_GE(found, int32_t(i));
        EXPECT_STREQ(encoders[size_t(found)].MimeType, encoders[i].MimeType);
        EXPECT_EQ(clsid, encoders[size_t(found)].Clsid);
    }
    Platform::TGuid untouched = Platform::ImageFormatBMP;
    EXPECT_EQ(GetEncoderClsid("IMAGE/PNG", untouched), -1);
    EXPECT_EQ(GetEncoderClsid("image/png ", untouched), -1);
    EXPECT_EQ(untouched, Platform::ImageFormatBMP);
}

// A picture the server hands out, as PNG.
QByteArray PngPicture()
{
    std::unique_ptr<Graphics::TCorvSurface> surface = Graphics::TCorvSurface::CreateFilled(3, 2, 0xFF123456);
    Platform::TMemoryStream png;
    surface->SaveToStream(png, Platform::ImageFormatPNG);
    return QByteArray(reinterpret_cast<const char*>(png.Data().data()), qsizetype(png.Data().size()));
}

QByteArray ReadAll(Platform::TStream& Stream)
{
    QByteArray bytes(qsizetype(Stream.Remaining()), '\0');
    Stream.ReadBuffer(bytes.data(), int32_t(bytes.size()));
    return bytes;
}

class OpenUrlFormTest : public testing::Test {
protected:
    void SetUp() override
    {
        Settings::InitializeSettings();
        FCache = std::make_unique<IO::TCorvFileCache>(FDir.path());
    }

    std::unique_ptr<TOpenUrlForm> MakeForm(const QString& Url, bool OpenNow = false)
    {
        auto form = std::make_unique<TOpenUrlForm>(nullptr, *FCache, FMru, Url, OpenNow);
        QObject::connect(form.get(), &QDialog::finished, [this](int Result) { FResult = Result; });
        return form;
    }

    bool Finished() { return Platform::WaitUntil([this] { return FResult >= 0; }, 30000); }

    QTemporaryDir FDir;
    std::unique_ptr<IO::TCorvFileCache> FCache;
    IO::TCorvMruList FMru{Settings::MruCapacity};
    TTestHttpServer FServer;
    int FResult = -1;
};

TEST_F(OpenUrlFormTest, LayoutAndStartingText)
{
    QGuiApplication::clipboard()->setText("http://example.com/from-clipboard.png");
    const std::unique_ptr<Graphics::TCorvSurface> picture = Graphics::TCorvSurface::CreateFilled(4, 4, 0xFF000000);
    FMru.Add(Document::MakeUrlSource("http://a.example/1.png"), *picture);
    FMru.Add(Document::MakeFileSource("/pictures/b.png"), *picture);
    FMru.Add(Document::MakeWebPageSource("http://c.example/", "C"), *picture);
    TOpenUrlForm form(nullptr, *FCache, FMru, "", false);
    EXPECT_EQ(form.windowTitle(), "Open URL");
    EXPECT_EQ(form.size(), QSize(421, 126));
    EXPECT_EQ(form.GetUrl(), "http://example.com/from-clipboard.png");
    ASSERT_EQ(form.UrlComboBox().count(), 2);
    // Image URLs and web pages of the recent list, most recent first.
    EXPECT_EQ(form.UrlComboBox().itemText(0), "http://c.example/");
    EXPECT_EQ(form.UrlComboBox().itemText(1), "http://a.example/1.png");
    EXPECT_TRUE(form.UrlComboBox().isEditable());

    struct TPlace {
        QWidget& Control;
        QRect Geometry;
        bool Hidden;
    };
    const TPlace places[] = {
        {form.HeaderIcon(), {8, 8, 48, 48}, false},
        {form.UrlComboBox(), {78, 8, 335, 21}, false},
        {form.ProgressBar(), {78, 8, 335, 20}, true},
        {form.StatusLabel(), {99, 37, 314, 29}, false},
        {form.OpenButton(), {257, 95, 75, 23}, false},
        {form.CancelButton(), {338, 95, 75, 23}, false},
    };
    for (const TPlace& place : places) {
        EXPECT_EQ(place.Control.geometry(), place.Geometry) << place.Control.metaObject()->className();
        EXPECT_EQ(place.Control.isHidden(), place.Hidden) << place.Control.metaObject()->className();
    }
    EXPECT_EQ(form.InfoImage().size(), QSize(16, 16));
    EXPECT_EQ(form.InfoImage().x(), 78);
    EXPECT_GE(form.InfoImage().y(), 36);
    EXPECT_EQ(form.WarnImage().geometry(), form.InfoImage().geometry());
    EXPECT_FALSE(form.InfoImage().isHidden());
    EXPECT_TRUE(form.WarnImage().isHidden());
    EXPECT_FALSE(form.InfoImage().pixmap().isNull());
    EXPECT_FALSE(form.WarnImage().pixmap().isNull());
    EXPECT_FALSE(form.HeaderIcon().pixmap().isNull());
    EXPECT_EQ(form.StatusLabel().text(), "Type the URL of the image or web page.");
    EXPECT_TRUE(form.OpenButton().isDefault());
    // Tab goes from the URL box to Open, then Cancel.
    const auto nextTabStop = [](QWidget& From) {
        QWidget* next = From.nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus) || next->parentWidget() == &From)
            next = next->nextInFocusChain();
        return next;
    };
    EXPECT_EQ(nextTabStop(form.UrlComboBox()), &form.OpenButton());
    EXPECT_EQ(nextTabStop(form.OpenButton()), &form.CancelButton());
    EXPECT_EQ(form.WebBrowser(), nullptr);

    // A host without a scheme on the clipboard is no suggestion; a given text wins.
    QGuiApplication::clipboard()->setText("example.com/picture.png");
    EXPECT_EQ(TOpenUrlForm(nullptr, *FCache, FMru, "", false).GetUrl(), "http://");
    EXPECT_EQ(TOpenUrlForm(nullptr, *FCache, FMru, "http://given.example/", false).GetUrl(), "http://given.example/");
}

TEST_F(OpenUrlFormTest, ContentTypes)
{
    struct TCase {
        const char* ContentType;
        bool Accepted;
        bool WebPage;
    };
    const TCase cases[] = {
        {"text/html", false, true},
        {"TEXT/HTML;charset=utf-8", false, true},
        {"text/html ;charset=utf-8", false, false}, // the blank stays: an unknown type
        {"image/png", true, false},
        {"image/jpeg; q=1", true, false},
        {"image/PNG", false, false},                // encoders' types match case-sensitively
        {"", false, false},
        {"application/octet-stream", false, false},
    };
    TOpenUrlForm form(nullptr, *FCache, FMru, "", false);
    for (const TCase& c : cases) {
        EXPECT_EQ(form.CheckContentType(c.ContentType), c.Accepted) << c.ContentType;
        EXPECT_EQ(form.IsWebPage(), c.WebPage) << c.ContentType;
    }
}

// The picture reaches the cache only when the caller, having decoded it,
// stores it.
TEST_F(OpenUrlFormTest, PictureClosesTheDialogWithItsDownload)
{
    const QByteArray picture = PngPicture();
    FServer.Serve("/a.png", {.ContentType = "image/png", .Body = picture});
    const QString url = FServer.Url("/a.png");
    // Without its scheme: Open puts "http://" in front.
    std::unique_ptr<TOpenUrlForm> form = MakeForm(url.mid(7), true);
    form->show();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(FResult, QDialog::Accepted);
    EXPECT_EQ(form->GetUrl(), url);
    EXPECT_FALSE(form->IsWebPage());
    EXPECT_EQ(form->WebBrowser(), nullptr);
    ASSERT_NE(form->Stream(), nullptr);
    EXPECT_EQ(form->Stream()->Position(), 0);
    EXPECT_EQ(ReadAll(*form->Stream()), picture);
    EXPECT_FALSE(FCache->Contains(url));

    // It replaces a longer picture cached before.
    {
        const auto stream = FCache->OpenEntry(url);
        const QByteArray old(10000, 'o');
        stream->WriteBuffer(old.constData(), int32_t(old.size()));
    }
    form->StoreDownload();
    ASSERT_NE(form->Stream(), nullptr);
    EXPECT_EQ(form->Stream()->Position(), 0);
    EXPECT_EQ(ReadAll(*form->Stream()), picture);
    form.reset();
    const auto stored = FCache->OpenEntry(url);
    EXPECT_EQ(ReadAll(*stored), picture);
}

// Answers whose body is malformed, cut short, empty or no picture fail in
// the dialog with the reason, and the picture cached for the URL stays; a
// whole picture, chunked, compressed or with a repeated length, opens.
TEST_F(OpenUrlFormTest, AnswersThatGiveNoPictureSaySoAndLeaveTheCache)
{
    using TReply = TTestHttpServer::TReply;
    const QByteArray picture = PngPicture();
    const auto chunk = [](const QByteArray& Bytes) { return QByteArray::number(Bytes.size(), 16) + "\r\n" + Bytes + "\r\n"; };
    const auto answer = [](QByteArray Body, QByteArray Headers) {
        return TReply{.ContentType = "image/png", .Body = Body, .Headers = Headers, .SendLength = false};
    };
    const QByteArray chunked = "Transfer-Encoding: chunked\r\n";
    const QByteArray length = "Content-Length: " + QByteArray::number(picture.size()) + "\r\n";
    // Without the length that qCompress puts first: a zlib stream.
    const QByteArray deflated = qCompress(picture, 9).mid(4);
    const QByteArray deflate = "Content-Encoding: deflate\r\n";
    struct TCase {
        const char* Path;
        TReply Reply;
        // Empty: the picture opens.
        QStringList Texts;
    };
    const TCase cases[] = {
        {"/chunked", answer(chunk(picture.left(20)) + chunk(picture.mid(20)) + "0\r\n\r\n", chunked), {}},
        {"/same-lengths", answer(picture, length + length), {}},
        {"/bad-chunk-size", answer("zz\r\n" + chunk(picture) + "0\r\n\r\n", chunked), {"The answer is malformed or empty"}},
        {"/bad-later-chunk-size", answer(chunk(picture.left(20)) + "zz\r\n" + chunk(picture.mid(20)), chunked),
         {"Unknown image format."}},
        {"/two-lengths", answer(picture, length + "Content-Length: 10\r\n"), {"The answer is malformed"}},
        {"/cut-short", {.ContentType = "image/png", .Body = picture.left(20), .DeclaredLength = picture.size()},
         {"Connection closed"}},
        // The client reports the cut only when the closing comes apart from the data.
        {"/cut-chunked", answer(chunk(picture).left(30), chunked), {"Connection closed", "Unknown image format."}},
        {"/no-picture", {.ContentType = "image/png", .Body = "no picture at all"}, {"Unknown image format."}},
        {"/deflated", {.ContentType = "image/png", .Body = deflated, .Headers = deflate}, {}},
        {"/cut-deflated", {.ContentType = "image/png", .Body = deflated.chopped(10), .Headers = deflate},
         {"The answer's compressed data is damaged."}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        FServer.Serve(c.Path, c.Reply);
        const QString url = FServer.Url(QString::fromLatin1(c.Path));
        {
            const auto stream = FCache->OpenEntry(url);
            stream->WriteBuffer("cached", 6);
        }
        FResult = -1;
        std::unique_ptr<TOpenUrlForm> form = MakeForm(url, true);
        form->show();
        ASSERT_TRUE(Platform::WaitUntil([&] { return FResult >= 0 || form->OpenButton().isEnabled(); }, 30000));
        if (c.Texts.isEmpty()) {
            EXPECT_EQ(FResult, QDialog::Accepted);
            const std::unique_ptr<Graphics::TCorvSurface> surface = form->TakeSurface();
            ASSERT_NE(surface, nullptr);
            EXPECT_EQ(*surface->GetPixelPtr(2, 1), 0xFF123456u);
        } else {
            EXPECT_EQ(FResult, -1);
            EXPECT_TRUE(c.Texts.contains(form->StatusLabel().text())) << form->StatusLabel().text().toStdString();
            EXPECT_FALSE(form->WarnImage().isHidden());
            EXPECT_EQ(form->Stream(), nullptr);
        }
        form.reset();
        EXPECT_EQ(ReadAll(*FCache->OpenEntry(url)), "cached");
    }
}

// An answer that announces more than the largest picture file fails at its
// headers.
TEST_F(OpenUrlFormTest, AnswerLargerThanAnyPictureFails)
{
    FServer.Serve("/huge", {.ContentType = "image/png",
                            .Body = QByteArray(1000, 'x'),
                            .DeclaredLength = MaxDownloadSize + 1,
                            .KeepOpen = true});
    std::unique_ptr<TOpenUrlForm> form = MakeForm(FServer.Url("/huge"), true);
    form->show();
    ASSERT_TRUE(Platform::WaitUntil([&] { return form->OpenButton().isEnabled(); }, 30000));
    EXPECT_EQ(form->StatusLabel().text(), QStringLiteral("The answer is too large (%1 bytes)").arg(MaxDownloadSize + 1));
    EXPECT_EQ(MaxDownloadSize, 16000LL * 16000 * 4 + 1048576);
}

// An answer without a length and without an end: the bytes count up, the
// memory stays flat, and Cancel ends it, the cache as it was.
TEST_F(OpenUrlFormTest, EndlessDownloadCountsItsBytesInLittleMemory)
{
    FServer.Serve("/endless",
                  {.ContentType = "image/png", .Body = {}, .SendLength = false, .FillerBytes = int64_t(1) << 40});
    const QString url = FServer.Url("/endless");
    std::unique_ptr<TOpenUrlForm> form = MakeForm(url, true);
    const int64_t before = Testing::ResidentBytes();
    int64_t peak = before;
    form->show();
    constexpr int64_t received = int64_t(128) << 20;
    ASSERT_TRUE(Platform::WaitUntil(
        [&] {
            peak = std::max(peak, Testing::ResidentBytes());
            // Without a length the bar runs on its own and holds the count.
            return form->ProgressBar().value() > received;
        },
        30000));
    const QString status = form->StatusLabel().text();
    EXPECT_TRUE(status.endsWith(" Mb") && !status.contains(" of ")) << status.toStdString();
    EXPECT_FALSE(form->ProgressBar().isHidden());
    if (Testing::ResidentMemoryTells) {
        EXPECT_LT(peak - before, 48 << 20) << "resident memory grew by " << (peak - before) << " bytes";
    }
    form->CancelButton().click();
    EXPECT_EQ(FResult, QDialog::Rejected);
    EXPECT_FALSE(FCache->Contains(url));
    EXPECT_TRUE(QDir(FDir.path()).isEmpty());
}

TEST_F(OpenUrlFormTest, FailedDownloadsShowTheirLastLineAndStartAfresh)
{
    FServer.Serve("/spaced", {.ContentType = "text/html ;charset=utf-8", .Body = "<p>x</p>"});
    const Testing::TRefusedPort closed;
    const quint16 port = closed.Port();
    struct TCase {
        QString Url;
        QString Status;
    };
    const TCase cases[] = {
        {"http://", "Invalid URL"},
        {FServer.Url("/spaced"), "Unknown image type: text/html ;charset=utf-8"},
        // A secure address is fetched as typed.
        {QStringLiteral("HTTPS://127.0.0.1:%1/a.png").arg(port), "Connection refused"},
    };
    for (const TCase& c : cases) {
        std::unique_ptr<TOpenUrlForm> form = MakeForm(c.Url);
        form->show();
        form->OpenButtonClick();
        EXPECT_FALSE(form->OpenButton().isEnabled());
        EXPECT_FALSE(form->UrlComboBox().isEnabled());
        ASSERT_TRUE(Platform::WaitUntil([&] { return form->OpenButton().isEnabled(); }, 30000)) << c.Url.toStdString();
        EXPECT_EQ(FResult, -1);
        EXPECT_EQ(form->GetUrl(), c.Url);
        EXPECT_EQ(form->StatusLabel().text(), c.Status);
        EXPECT_FALSE(form->WarnImage().isHidden());
        EXPECT_TRUE(form->InfoImage().isHidden());
        EXPECT_TRUE(form->UrlComboBox().isEnabled());
        EXPECT_FALSE(form->UrlComboBox().isHidden());
        EXPECT_TRUE(form->ProgressBar().isHidden());
        EXPECT_EQ(form->Stream(), nullptr);
        EXPECT_FALSE(FCache->Contains(c.Url));
        EXPECT_EQ(form->WebBrowser(), nullptr);
    }
    // A 404 answer fails the download with its status line.
    std::unique_ptr<TOpenUrlForm> form = MakeForm(FServer.Url("/missing"));
    form->show();
    form->OpenButtonClick();
    ASSERT_TRUE(Platform::WaitUntil([&] { return form->OpenButton().isEnabled(); }, 30000));
    EXPECT_FALSE(form->WarnImage().isHidden());
    EXPECT_EQ(form->StatusLabel().text(), "HTTP 404 Not Found");
    EXPECT_FALSE(FCache->Contains(FServer.Url("/missing")));
}

TEST_F(OpenUrlFormTest, CancelStopsTheDownloadAndLeavesTheCacheAlone)
{
    TTestHttpServer::TReply silent;
    silent.Silent = true;
    FServer.Serve("/silent", silent);
    std::unique_ptr<TOpenUrlForm> form = MakeForm(FServer.Url("/silent"), true);
    form->show();
    ASSERT_TRUE(Platform::WaitUntil([&] { return FServer.Requests("/silent") == 1; }, 30000));
    form->CancelButton().click();
    EXPECT_EQ(FResult, QDialog::Rejected);
    EXPECT_TRUE(form->Cancelled());
    EXPECT_EQ(form->Stream(), nullptr);
    EXPECT_FALSE(FCache->Contains(FServer.Url("/silent")));
    EXPECT_EQ(form->WebBrowser(), nullptr);
}

TEST_F(OpenUrlFormTest, NavigationErrorWinsOverLaterStatusTexts)
{
    TOpenUrlForm form(nullptr, *FCache, FMru, "http://example.com/", false);
    form.WebBrowserStatusTextChange("");
    EXPECT_EQ(form.StatusLabel().text(), "Downloading...");
    form.WebBrowserProgressChange(30, 100);
    EXPECT_FALSE(form.ProgressBar().isHidden());
    EXPECT_TRUE(form.UrlComboBox().isHidden());
    EXPECT_EQ(form.ProgressBar().value(), 30);
    form.WebBrowserTitleChange("A title");
    EXPECT_EQ(form.Title(), "A title");

    form.WebBrowserNavigateError(404);
    EXPECT_EQ(form.StatusLabel().text(), "404");
    EXPECT_TRUE(form.Cancelled());
    EXPECT_FALSE(form.WarnImage().isHidden());
    EXPECT_TRUE(form.ProgressBar().isHidden());
    EXPECT_FALSE(form.UrlComboBox().isHidden());
    EXPECT_TRUE(form.OpenButton().isEnabled());
    form.WebBrowserStatusTextChange("Done");
    form.WebBrowserProgressChange(100, 100);
    EXPECT_EQ(form.StatusLabel().text(), "404");
    EXPECT_TRUE(form.ProgressBar().isHidden());
}

TEST_F(OpenUrlFormTest, LongStatusTextsEndInAnEllipsisAtAWord)
{
    TOpenUrlForm form(nullptr, *FCache, FMru, "", false);
    const QString text = QStringLiteral("word ").repeated(200) + QStringLiteral("&end");
    form.WebBrowserStatusTextChange(text);
    const QString shown = form.StatusLabel().text();
    EXPECT_TRUE(shown.endsWith("word...")) << shown.toStdString();
    EXPECT_LT(shown.size(), text.size());
    form.WebBrowserStatusTextChange("Fish & chips");
    EXPECT_EQ(form.StatusLabel().text(), "Fish & chips");
}

// Typing the beginning of an earlier URL shows the rest inline; one Enter
// opens what the box shows, completed or not. The keys go where the system
// sends them: to the focused URL box.
TEST_F(OpenUrlFormTest, OneEnterOpensWhatTheBoxShows)
{
    FServer.Serve("/earlier.png", {.ContentType = "image/png", .Body = PngPicture()});
    FServer.Serve("/other.png", {.ContentType = "image/png", .Body = PngPicture()});
    const QString earlier = FServer.Url("/earlier.png");
    const std::unique_ptr<Graphics::TCorvSurface> picture = Graphics::TCorvSurface::CreateFilled(4, 4, 0xFF000000);
    FMru.Add(Document::MakeUrlSource(earlier), *picture);
    const std::pair<QString, QString> cases[] = {
        {earlier.chopped(8), earlier}, // the rest is completed inline
        {FServer.Url("/other.png"), FServer.Url("/other.png")},
    };
    for (const auto& [typed, opened] : cases) {
        FResult = -1;
        std::unique_ptr<TOpenUrlForm> form = MakeForm("http://");
        form->show();
        form->activateWindow();
        form->UrlComboBox().setFocus();
        ASSERT_TRUE(Platform::WaitUntil([] { return QApplication::focusWidget() != nullptr; }, 5000));
        QWidget& focus = *QApplication::focusWidget();
        QTest::keyClick(&focus, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(&focus, typed);
        ASSERT_EQ(form->UrlComboBox().currentText(), opened);
        EXPECT_EQ(form->UrlComboBox().lineEdit()->hasSelectedText(), typed != opened);

        QTest::keyClick(&focus, Qt::Key_Return);
        ASSERT_FALSE(form->OpenButton().isEnabled()) << typed.toStdString();
        ASSERT_TRUE(Finished());
        EXPECT_EQ(FResult, QDialog::Accepted);
        EXPECT_EQ(form->GetUrl(), opened);
    }
    EXPECT_EQ(FServer.Requests("/earlier.png"), 1);
    EXPECT_EQ(FServer.Requests("/other.png"), 1);
}

// One page end to end: the download stops at the headers, the page loads,
// and the dialog closes with the drawn page, stored in the cache as PNG.
TEST_F(OpenUrlFormTest, WebPageIsRenderedStoredAndHandedOver)
{
    FServer.Serve("/page",
                  {.Body = "<!DOCTYPE html><html><head><title>Colours</title></head>"
                           "<body style='margin:0;background:rgb(0,0,255)'>"
                           "<div style='width:600px;height:300px;background:rgb(0,255,0)'></div></body></html>"});
    const QString url = FServer.Url("/page");
    std::unique_ptr<TOpenUrlForm> form = MakeForm(url, true);
    form->show();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(FResult, QDialog::Accepted);
    EXPECT_TRUE(form->IsWebPage());
    EXPECT_EQ(form->Title(), "Colours");
    EXPECT_EQ(form->Notice(), "");
    EXPECT_EQ(FServer.Requests("/page"), 2); // the refused download, then the page
    std::unique_ptr<Graphics::TCorvSurface> surface = form->TakeSurface();
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->Width(), Settings::Current().PageCaptureWidth);
    EXPECT_EQ(surface->Height(), 300);
    EXPECT_FALSE(surface->HasAlpha());
    EXPECT_EQ(*surface->GetPixelPtr(10, 10), 0xFF00FF00u);
    EXPECT_EQ(*surface->GetPixelPtr(800, 10), 0xFF0000FFu);

    ASSERT_NE(form->Stream(), nullptr);
    EXPECT_EQ(form->Stream()->Position(), 0);
    const QByteArray stored = ReadAll(*form->Stream());
    form.reset();
    Platform::TMemoryStream png(std::vector<uint8_t>(stored.begin(), stored.end()));
    const std::unique_ptr<Graphics::TCorvSurface> cached = Graphics::TCorvSurface::CreateFromStream(png);
    EXPECT_EQ(cached->Width(), surface->Width());
    EXPECT_EQ(cached->Height(), 300);
    EXPECT_EQ(*cached->GetPixelPtr(10, 10), 0xFF00FF00u);
    EXPECT_TRUE(FCache->Contains(url));
}

constexpr const char* SvgPicture = "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>";

// The download says "web page", then the page itself fails, has nothing to
// draw or is never seen drawn: the dialog goes back to editing with the
// error, stores nothing and does not close.
TEST_F(OpenUrlFormTest, PagesThatGiveNoPictureReturnToEditing)
{
    const TTestHttpServer::TReply page{.Body = "<title>x</title>"};
    const TTestHttpServer::TReply gone{.Status = "404 Not Found", .Body = "gone"};
    FServer.ServeInTurn("/gone", {page, gone});
    // A picture document has no body.
    FServer.ServeInTurn("/picture", {page, {.ContentType = "image/svg+xml", .Body = SvgPicture}});
    // The page takes away whatever is added beside its body.
    const TTestHttpServer::TReply unseen{
        .Body = "<body style='height:3000px'><script>new MutationObserver(changes => changes.forEach("
                "c => c.addedNodes.forEach(n => n.remove()))).observe(document.documentElement, {childList: true});"
                "</script></body>"};
    FServer.ServeInTurn("/unseen", {page, unseen, gone});
    const std::pair<QString, QString> cases[] = {
        {FServer.Url("/gone"), "404"},
        {FServer.Url("/picture"), PageNotDrawnText},
        {FServer.Url("/unseen"), PageNotDrawnText},
    };
    for (const auto& [url, status] : cases) {
        std::unique_ptr<TOpenUrlForm> form = MakeForm(url, true);
        form->show();
        ASSERT_TRUE(Platform::WaitUntil(
            [&] {
                // The page is not waited for as long as a user would.
                if (Platform::TCorvWebPage* browser = form->WebBrowser())
                    browser->SetLoadTimeout(1000);
                return form->OpenButton().isEnabled();
            },
            30000))
            << url.toStdString();
        EXPECT_EQ(form->StatusLabel().text(), status);
        EXPECT_FALSE(form->WarnImage().isHidden());
        EXPECT_TRUE(form->UrlComboBox().isEnabled());
        EXPECT_EQ(FResult, -1);
        EXPECT_EQ(form->Stream(), nullptr);
        EXPECT_EQ(form->TakeSurface(), nullptr);
        EXPECT_FALSE(FCache->Contains(url));

        // Open again starts a fresh download, whose own failure is shown.
        form->OpenButtonClick();
        ASSERT_TRUE(Platform::WaitUntil([&] { return form->OpenButton().isEnabled(); }, 30000));
        EXPECT_EQ(FServer.Requests(url.mid(url.lastIndexOf('/')).toLatin1()), 3);
        EXPECT_NE(form->StatusLabel().text(), status);
        EXPECT_FALSE(form->WarnImage().isHidden());
        EXPECT_EQ(FResult, -1);
    }
}

// Cancel while the page is being waited for or drawn closes the dialog with
// nothing: no picture, no cache entry, and the completion does not turn it
// into an OK.
TEST_F(OpenUrlFormTest, CancelWhileGeneratingTheImageOpensNothing)
{
    FServer.Serve("/page", {.Body = "<body style='background:rgb(0,255,0)'></body>"});
    const QString url = FServer.Url("/page");
    std::unique_ptr<TOpenUrlForm> form = MakeForm(url, true);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (form->StatusLabel().text() == QLatin1String(GeneratingImageText)) {
            watch.stop();
            form->reject();
        }
    });
    watch.start(5);
    form->show();
    ASSERT_TRUE(Finished());
    EXPECT_EQ(FResult, QDialog::Rejected);
    // The drawing that was under way has returned by now.
    Platform::PumpEvents(600);
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(form->TakeSurface(), nullptr);
    EXPECT_EQ(form->Stream(), nullptr);
    EXPECT_FALSE(FCache->Contains(url));
}

} // namespace
