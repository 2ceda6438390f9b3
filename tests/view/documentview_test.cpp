#include "document/document.h"
#include "document/layers.h"
#include "graphics/surface.h"
#include "platform/imaging.h"
#include "view/documentview.h"
#include "view/overlays.h"
#include "view/preservebrush.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <string>
#include <vector>

namespace {

using namespace Corvanith;
using namespace Corvanith::View;
using Document::TCorvDocument;
using Graphics::TCorvColor;
using Graphics::TCorvRectangle;
using Graphics::TCorvSurface;

constexpr TCorvColor Top = 0xFF102030;
constexpr TCorvColor Bottom = 0xFF405060;
constexpr TCorvColor PictureColor = 0xFF336699;

// Records the calls a tool gets from the view.
class TLogTool : public TCorvTool {
public:
    QString GetName() const override { return QStringLiteral("log"); }
    void MouseMove(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY) override
    {
        Log.push_back("move " + Text(Shift, X, Y) + " " + std::to_string(DocX) + "," + std::to_string(DocY));
    }
    void MouseDown(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY) override
    {
        Log.push_back("down " + Text(Shift, X, Y) + " " + std::to_string(DocX) + "," + std::to_string(DocY));
    }
    void MouseEnter(TShiftState Shift, int32_t X, int32_t Y) override { Log.push_back("enter " + Text(Shift, X, Y)); }
    void MouseLeave(TShiftState Shift, int32_t X, int32_t Y) override { Log.push_back("leave " + Text(Shift, X, Y)); }
    std::vector<std::string> Log;

private:
    static std::string Text(TShiftState Shift, int32_t X, int32_t Y)
    {
        return std::to_string(Shift) + " " + std::to_string(X) + "," + std::to_string(Y);
    }
};

class TFillOverlay : public TCorvOverlay {
public:
    TFillOverlay(const TCorvRectangle& Bounds, TCorvColor Color) : TCorvOverlay(Bounds), FColor(Color) {}
    void Paint(TCorvSurface& Target, const TCorvRectangle& ClipRect) override { Target.FillRect(ClipRect, FColor); }

private:
    TCorvColor FColor;
};

// Counts the paints of a widget.
class TPaintCounter : public QObject {
public:
    int Count = 0;
    QRegion Painted;
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::Paint) {
            ++Count;
            Painted += static_cast<QPaintEvent*>(Event)->region();
        }
        return false;
    }
};

class DocumentViewTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Settings::InitializeSettings();
        Graphics::LoadShadowCorners();
    }
    static void TearDownTestSuite() { Graphics::FreeShadowCorners(); }

    void SetUp() override
    {
        Fixed = Settings::Current();
        Fixed.ViewBackgroundColor1 = Top;
        Fixed.ViewBackgroundColor2 = Bottom;
    }

    // A view of the given client size (no bar needed) with the fixed padding.
    std::unique_ptr<TCorvDocumentView> MakeView(int32_t Width, int32_t Height)
    {
        auto view = std::make_unique<TCorvDocumentView>(nullptr, Fixed);
        view->SetPadding({4, 4, 4, 4});
        view->SetOverlays(&Overlays);
        view->SetTools(&Tools);
        view->resize(Width, Height);
        view->show();
        QApplication::processEvents();
        return view;
    }

    // A document with the standard layers.
    std::unique_ptr<TCorvDocument> MakeDocument(int32_t W, int32_t H, const QString& Location = QStringLiteral("a"),
                                                TCorvColor Color = PictureColor)
    {
        auto doc = std::make_unique<TCorvDocument>(TCorvSurface::CreateFilled(W, H, Color),
                                                   Document::MakeFileSource(Location));
        doc->Layers().Insert(std::make_unique<Document::TCorvDocumentShadowLayer>(Fixed), 0);
        doc->Layers().Insert(std::make_unique<Document::TCorvBackgroundLayer>(Fixed), 0);
        return doc;
    }

    // A shown view of the given client size on a picture of the given size.
    std::unique_ptr<TCorvDocumentView> ShowDocument(int32_t Width, int32_t Height, int32_t PictureWidth,
                                                    int32_t PictureHeight)
    {
        auto view = MakeView(Width, Height);
        Doc = MakeDocument(PictureWidth, PictureHeight);
        view->SetDocument(Doc.get());
        QApplication::processEvents();
        return view;
    }

    // Paints the whole client area onto an image, as a paint message would.
    static QImage PaintAll(TCorvDocumentView& View)
    {
        QImage image(View.ClientWidth(), View.ClientHeight(), QImage::Format_ARGB32);
        image.fill(0xFFFF00FF);
        QPainter painter(&image);
        Platform::TCanvas dc(painter);
        View.PaintTo(&dc, {0, 0, View.ClientWidth(), View.ClientHeight()});
        return image;
    }

    static TCorvColor BufferPixel(const TCorvDocumentView& View, int32_t X, int32_t Y)
    {
        return *View.Buffer()->GetPixelPtr(X, Y);
    }

    Settings::TSettings Fixed;
    std::unique_ptr<TCorvDocument> Doc;
    TCorvOverlays Overlays;
    TCorvTools Tools{Overlays};
};

TEST_F(DocumentViewTest, WithoutADocumentTheClientIsOneVerticalGradient)
{
    auto view = MakeView(200, 100);
    const QImage image = PaintAll(*view);
    EXPECT_EQ(view->HorzRange(), 0);
    EXPECT_EQ(view->VertRange(), 0);
    EXPECT_EQ(view->ClientHeight(), 100);
    EXPECT_EQ(BufferPixel(*view, 0, 0), Top);
    EXPECT_EQ(BufferPixel(*view, 199, 99), Bottom);
    EXPECT_EQ(view->Buffer()->Height(), 101);
    const TCorvColor middle = BufferPixel(*view, 50, 50);
    EXPECT_NE(middle, Top);
    EXPECT_NE(middle, Bottom);
    EXPECT_EQ(image.pixel(50, 50), middle);
    EXPECT_EQ(image.pixel(0, 99), Bottom);
}

TEST_F(DocumentViewTest, SmallDocumentIsCentredWithItsFrame)
{
    auto view = MakeView(500, 300);
    auto doc = MakeDocument(100, 50);
    view->SetDocument(doc.get());
    ASSERT_EQ(doc->GetBounds(), (TCorvRectangle{-4, -4, 108, 58}));
    const QImage image = PaintAll(*view);
    EXPECT_EQ(view->HorzRange(), 116);
    EXPECT_EQ(view->VertRange(), 66);
    EXPECT_EQ(view->GetItemScreenRect(doc->ImageLayer()), (TCorvRectangle{200, 125, 100, 50}));
    EXPECT_EQ(BufferPixel(*view, 200, 125), PictureColor);
    EXPECT_EQ(BufferPixel(*view, 299, 174), PictureColor);
    EXPECT_EQ(BufferPixel(*view, 199, 124), 0xFF000000u);
    EXPECT_EQ(BufferPixel(*view, 300, 175), 0xFF000000u);
    // The gradient around the frame; the shadow band just outside the frame
    // is the gradient of its row darkened.
    EXPECT_EQ(BufferPixel(*view, 0, 0), Top);
    EXPECT_EQ(BufferPixel(*view, 195, 130), BufferPixel(*view, 0, 130));
    EXPECT_LT(BufferPixel(*view, 198, 130) & 0xFF, BufferPixel(*view, 0, 130) & 0xFF);
    EXPECT_EQ(image.pixel(200, 125), PictureColor);
}

TEST_F(DocumentViewTest, TransparentPictureShowsTheCheckerboardNeverTheGradient)
{
    auto view = MakeView(500, 300);
    auto doc = MakeDocument(100, 50, QStringLiteral("a"), 0x00000000);
    view->SetDocument(doc.get());
    PaintAll(*view);
    // The image's top-left pixel at client (200, 125) lies one pixel inside
    // the background layer, whose 8-pixel squares start at its own corner.
    EXPECT_EQ(BufferPixel(*view, 200, 125), 0xFFBFBFBFu);
    EXPECT_EQ(BufferPixel(*view, 206, 125), 0xFFBFBFBFu);
    EXPECT_EQ(BufferPixel(*view, 207, 125), 0xFFFFFFFFu);
    EXPECT_EQ(BufferPixel(*view, 199, 124), 0xFF000000u);
}

TEST_F(DocumentViewTest, CentringHalvesEachOperandSeparately)
{
    // TW = 4 + (284 + 8) + 4 = 300 in a client 501 wide: CX = 250 - 150.
    auto view = MakeView(501, 400);
    auto doc = MakeDocument(284, 50);
    view->SetDocument(doc.get());
    EXPECT_EQ(view->GetItemScreenRect(doc->ImageLayer()).X, 100 + 8);
}

TEST_F(DocumentViewTest, LargeDocumentScrollsAndMapsTheCursorToPictureColumns)
{
    auto view = ShowDocument(300, 200, 1000, 800);
    PaintAll(*view);
    EXPECT_EQ(view->HorzRange(), 1016);
    EXPECT_EQ(view->VertRange(), 816);
    EXPECT_EQ(view->GetItemScreenRect(Doc->ImageLayer()).X, 8);

    TLogTool& tool = static_cast<TLogTool&>(Tools.Add(std::make_unique<TLogTool>()));
    Tools.SetActiveTool(&tool);
    struct Case {
        int32_t Position;
        int32_t RectX;
        int32_t DocX;
    };
    for (const Case c : {Case{3, 5, 0}, Case{8, 0, 5}, Case{20, 0, 17}}) {
        view->horizontalScrollBar()->setValue(c.Position);
        ASSERT_EQ(view->HorzPosition(), c.Position);
        EXPECT_EQ(view->GetItemScreenRect(Doc->ImageLayer()).X, c.RectX);
        tool.Log.clear();
        view->ViewMouseMove(0, 5, 50);
        view->ViewMouseMove(0, 5, 50);
        EXPECT_EQ(tool.Log.back(), "move 0 5,50 " + std::to_string(c.DocX) + ",42");
        view->ViewMouseLeave();
    }
    // Scrolled by 30 the image's top-left pixel would be at (8 - 30, 8 - 0).
    view->horizontalScrollBar()->setValue(30);
    PaintAll(*view);
    EXPECT_EQ(BufferPixel(*view, 0, 8), PictureColor);
    EXPECT_EQ(BufferPixel(*view, 0, 7), 0xFF000000u);
}

TEST_F(DocumentViewTest, EmptyPictureShowsOnlyItsFrameAndNeverReachesTheTool)
{
    auto view = ShowDocument(200, 100, 0, 0);
    TLogTool& tool = static_cast<TLogTool&>(Tools.Add(std::make_unique<TLogTool>()));
    Tools.SetActiveTool(&tool);
    PaintAll(*view);
    EXPECT_EQ(view->HorzRange(), 16);
    // The frame of a 0 x 0 picture: the 2 x 2 square at the centre.
    EXPECT_EQ(BufferPixel(*view, 99, 49), 0xFF000000u);
    EXPECT_EQ(BufferPixel(*view, 100, 50), 0xFF000000u);
    for (int32_t x = 95; x < 105; ++x)
        view->ViewMouseMove(ssLeft, x, 50);
    EXPECT_TRUE(tool.Log.empty());
    EXPECT_FALSE(view->MouseInDocument());
}

TEST_F(DocumentViewTest, PaintRectangleIsClippedToTheClientArea)
{
    auto view = MakeView(100, 80);
    QImage image(100, 80, QImage::Format_ARGB32);
    image.fill(0xFFFF00FF);
    {
        QPainter painter(&image);
        Platform::TCanvas dc(painter);
        view->PaintTo(&dc, {-10, -10, 20, 20});
        view->PaintTo(&dc, {500, 500, 10, 10});
        view->PaintTo(nullptr, {0, 0, 100, 80});
    }
    EXPECT_EQ(image.pixel(0, 0), Top);
    EXPECT_EQ(image.pixel(9, 9), BufferPixel(*view, 9, 9));
    EXPECT_EQ(image.pixel(10, 9), 0xFFFF00FFu);
    EXPECT_EQ(image.pixel(9, 10), 0xFFFF00FFu);
    EXPECT_EQ(image.pixel(99, 79), 0xFFFF00FFu);
}

TEST_F(DocumentViewTest, BufferGrowsWithTheClientAndNeverShrinks)
{
    struct Step {
        int32_t Width, Height;
        int32_t BufferWidth, BufferHeight;
    };
    auto view = MakeView(120, 90);
    // One row taller than the client; a replacement takes the current size
    // in both directions, also the one that was large enough.
    for (const Step s : {Step{120, 90, 120, 91}, Step{120, 91, 120, 92}, Step{60, 40, 120, 92}, Step{130, 40, 130, 41}}) {
        view->resize(s.Width, s.Height);
        QApplication::processEvents();
        PaintAll(*view);
        EXPECT_EQ(view->Buffer()->Width(), s.BufferWidth);
        EXPECT_EQ(view->Buffer()->Height(), s.BufferHeight);
    }
}

TEST_F(DocumentViewTest, SameSourceKeepsTheScrollPositions)
{
    auto view = MakeView(200, 150);
    auto first = MakeDocument(1000, 800, QStringLiteral("/x/a.png"));
    auto same = MakeDocument(1000, 800, QStringLiteral("/X/A.PNG"));
    auto other = MakeDocument(1000, 800, QStringLiteral("/x/b.png"));
    view->SetDocument(first.get());
    QApplication::processEvents();
    view->horizontalScrollBar()->setValue(40);
    view->verticalScrollBar()->setValue(30);
    view->SetDocument(same.get());
    EXPECT_EQ(view->HorzPosition(), 40);
    EXPECT_EQ(view->VertPosition(), 30);
    view->SetDocument(other.get());
    EXPECT_EQ(view->HorzPosition(), 0);
    EXPECT_EQ(view->VertPosition(), 0);
    view->verticalScrollBar()->setValue(30);
    view->SetDocument(nullptr);
    EXPECT_EQ(view->VertPosition(), 0);
}

TEST_F(DocumentViewTest, MovingAVisibleOverlayRepaintsOldAndNewPlaceAtOnce)
{
    auto view = MakeView(200, 150);
    PaintAll(*view);
    TCorvOverlay& o = Overlays.Add(std::make_unique<TFillOverlay>(TCorvRectangle{10, 10, 20, 20}, 0xFFAA0000));
    o.SetVisible(true);
    EXPECT_EQ(BufferPixel(*view, 15, 15), 0xFFAA0000u);
    o.Move(100, 100, false);
    EXPECT_EQ(BufferPixel(*view, 105, 105), 0xFFAA0000u);
    EXPECT_NE(BufferPixel(*view, 15, 15), 0xFFAA0000u);
    o.SetVisible(false);
    EXPECT_NE(BufferPixel(*view, 105, 105), 0xFFAA0000u);
    // Hidden: a move paints nothing.
    o.Move(10, 10, false);
    EXPECT_NE(BufferPixel(*view, 15, 15), 0xFFAA0000u);

    // The list outlives the view: its overlays no longer report to it.
    view.reset();
    EXPECT_FALSE(Overlays.OnOverlayMoved);
    EXPECT_FALSE(Overlays.OnOverlayChanged);
    o.SetVisible(true);
    o.Move(20, 20, false);
    EXPECT_EQ(o.GetBounds(), (TCorvRectangle{20, 20, 20, 20}));
}

TEST_F(DocumentViewTest, ResizeInvalidatesOnlyWhatMoves)
{
    struct Case {
        bool EqualColours;
        bool WithDocument;
        int32_t Width;
        int Paints;
    };
    for (const Case c : {Case{true, false, 200, 0}, Case{false, false, 200, 1}, Case{false, true, 100, 0},
                         Case{false, true, 400, 1}}) {
        SCOPED_TRACE(c.Paints);
        if (c.EqualColours)
            Fixed.ViewBackgroundColor2 = Fixed.ViewBackgroundColor1;
        auto view = MakeView(c.Width, 150);
        auto doc = MakeDocument(300, 300);
        if (c.WithDocument)
            view->SetDocument(doc.get());
        QApplication::processEvents();
        TPaintCounter counter;
        view->viewport()->installEventFilter(&counter);
        view->ViewResize();
        QApplication::processEvents();
        EXPECT_EQ(std::min(counter.Count, 1), c.Paints);
        view->viewport()->removeEventFilter(&counter);
        Fixed.ViewBackgroundColor2 = Bottom;
    }
}

TEST_F(DocumentViewTest, MouseReachesTheToolOnlyOverThePicture)
{
    auto view = MakeView(500, 300);
    TLogTool& tool = static_cast<TLogTool&>(Tools.Add(std::make_unique<TLogTool>()));
    Tools.SetActiveTool(&tool);
    // Without a document nothing reaches the tool.
    view->ViewMouseMove(ssLeft, 250, 150);
    EXPECT_TRUE(tool.Log.empty());
    EXPECT_FALSE(view->MouseInDocument());
    view->ViewMouseLeave();

    auto doc = MakeDocument(100, 50);
    view->SetDocument(doc.get());
    // The image covers client columns 200 .. 299 and rows 125 .. 174.
    view->ViewMouseMove(0, 199, 130);
    view->ViewMouseDown(Qt::LeftButton, ssLeft, 200, 130);
    EXPECT_TRUE(view->MouseInDocument());
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::BlankCursor);
    view->ViewMouseMove(ssLeft, 201, 131);
    view->ViewMouseDown(Qt::LeftButton, ssLeft, 299, 174);
    view->ViewMouseMove(0, 300, 174);
    EXPECT_NE(view->viewport()->cursor().shape(), Qt::BlankCursor);
    view->ViewMouseMove(0, 310, 174);
    view->ViewMouseMove(0, 250, 150);
    view->ViewMouseLeave();
    EXPECT_FALSE(view->MouseInDocument());
    EXPECT_NE(view->viewport()->cursor().shape(), Qt::BlankCursor);
    view->ViewMouseLeave();
    const std::vector<std::string> want{"enter 8 200,130", "move 8 201,131 1,6", "down 8 299,174 99,49",
                                        "leave 0 300,174", "enter 0 250,150"};
    ASSERT_EQ(tool.Log.size(), want.size() + 1);
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(tool.Log[i], want[i]);
    EXPECT_EQ(tool.Log.back().rfind("leave 0 ", 0), 0u);
}

TEST_F(DocumentViewTest, ThePictureMovingUnderAStillCursorHidesAndShowsTheDisc)
{
    auto view = MakeView(500, 300);
    auto& brush = static_cast<TCorvPreserveBrushTool&>(Tools.Add(std::make_unique<TCorvPreserveBrushTool>(50)));
    Tools.SetActiveTool(&brush);
    auto doc = MakeDocument(300, 50);
    view->SetDocument(doc.get());
    // The picture covers client columns 100 .. 399; the cursor rests on its right part.
    view->ViewMouseMove(0, 380, 150);
    const TCorvBrushToolOverlay& disc = *brush.Overlay();
    ASSERT_TRUE(disc.Visible());
    ASSERT_EQ(view->viewport()->cursor().shape(), Qt::BlankCursor);

    // Narrower by 100 pixels, centred again: columns 150 .. 349.
    auto narrow = [&](int32_t Width) {
        doc->ImageLayer().SetSurface(TCorvSurface::CreateFilled(Width, 50, PictureColor));
        view->PictureChanged();
    };
    narrow(200);
    EXPECT_FALSE(disc.Visible());
    EXPECT_FALSE(view->MouseInDocument());
    EXPECT_NE(view->viewport()->cursor().shape(), Qt::BlankCursor);
    EXPECT_FALSE(doc->BrushesLayer().HasBrushes());
    narrow(300);
    EXPECT_TRUE(disc.Visible());
    EXPECT_EQ(disc.GetBounds(), (TCorvRectangle{355, 125, 50, 50}));

    // Another document that does not reach the cursor, then one that does.
    auto small = MakeDocument(100, 50, QStringLiteral("b"));
    view->SetDocument(small.get());
    EXPECT_FALSE(disc.Visible());
    view->SetDocument(doc.get());
    EXPECT_TRUE(disc.Visible());

    // A cursor that left the view is not brought back by a change.
    view->ViewMouseLeave();
    view->SetDocument(small.get());
    view->SetDocument(doc.get());
    EXPECT_FALSE(disc.Visible());
}

TEST_F(DocumentViewTest, MouseEventsAndClicksComeThroughTheViewport)
{
    auto view = MakeView(500, 300);
    auto doc = MakeDocument(100, 50);
    view->SetDocument(doc.get());
    TLogTool& tool = static_cast<TLogTool&>(Tools.Add(std::make_unique<TLogTool>()));
    Tools.SetActiveTool(&tool);
    std::vector<std::string> owner;
    view->OnMouseDown = [&](Qt::MouseButton, TShiftState Shift, int32_t X, int32_t Y) {
        owner.push_back("down " + std::to_string(Shift) + " " + std::to_string(X) + "," + std::to_string(Y) + " " +
                        std::to_string(tool.Log.size()));
    };
    view->OnClick = [&] { owner.push_back("click"); };
    auto send = [&](QEvent::Type Type, QPoint P, Qt::MouseButton Button, Qt::MouseButtons Buttons) {
        QMouseEvent e(Type, P, view->viewport()->mapToGlobal(P), Button, Buttons, Qt::ShiftModifier);
        QApplication::sendEvent(view->viewport(), &e);
    };
    send(QEvent::MouseMove, {210, 130}, Qt::NoButton, Qt::NoButton);
    send(QEvent::MouseButtonPress, {210, 130}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {210, 130}, Qt::LeftButton, Qt::NoButton);
    QWheelEvent wheel({210, 130}, view->viewport()->mapToGlobal(QPoint(210, 130)), {}, {0, -120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_EQ(tool.Log, (std::vector<std::string>{"enter 1 210,130", "down 9 210,130 10,5"}));
    EXPECT_EQ(owner, (std::vector<std::string>{"down 9 210,130 2", "click"}));
    EXPECT_EQ(view->VertPosition(), 0);

    // The second press of a quick double press is a press like any other.
    send(QEvent::MouseButtonPress, {220, 130}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {220, 130}, Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, {220, 130}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {220, 130}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(tool.Log, (std::vector<std::string>{"enter 1 210,130", "down 9 210,130 10,5", "down 9 220,130 20,5",
                                                  "down 9 220,130 20,5"}));
    EXPECT_EQ(owner, (std::vector<std::string>{"down 9 210,130 2", "click", "down 9 220,130 3", "click",
                                               "down 9 220,130 4", "click"}));
}

// The positions a bar passes through.
std::vector<int> Steps(TCorvDocumentView& View, Qt::Orientation Bar, const std::function<void()>& Scroll)
{
    QScrollBar* bar = Bar == Qt::Vertical ? View.verticalScrollBar() : View.horizontalScrollBar();
    std::vector<int> positions;
    int previous = bar->value();
    const auto connection = QObject::connect(bar, &QAbstractSlider::valueChanged, [&](int Value) {
        positions.push_back(Value - previous);
        previous = Value;
    });
    Scroll();
    QObject::disconnect(connection);
    return positions;
}

TEST_F(DocumentViewTest, LineAndPageScrollsMoveInSteps)
{
    // Only the height overflows: the client stays 500 high.
    auto view = ShowDocument(300, 500, 100, 3000);
    ASSERT_EQ(view->ClientHeight(), 500);
    EXPECT_EQ(Steps(*view, Qt::Vertical, [&] { view->SmoothScroll(Qt::Vertical, scLineDown); }),
              (std::vector<int>{11, 11, 11, 11, 1}));
    EXPECT_EQ(Steps(*view, Qt::Vertical, [&] { view->SmoothScroll(Qt::Vertical, scLineUp); }),
              (std::vector<int>{-11, -11, -11, -11, -1}));
    const std::vector<int> page{37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 37, 6};
    EXPECT_EQ(Steps(*view, Qt::Vertical, [&] { view->ScrollCommand(Qt::Vertical, scPageDown); }), page);
    EXPECT_EQ(view->VertPosition(), 450);
    // The bar's own commands take the same steps.
    EXPECT_EQ(Steps(*view, Qt::Vertical,
                    [&] { view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd); }),
              (std::vector<int>{11, 11, 11, 11, 1}));
    EXPECT_EQ(view->VertPosition(), 495);
    view->ScrollCommand(Qt::Vertical, scBottom);
    EXPECT_EQ(view->VertPosition(), view->VertRange() - 500);
    EXPECT_TRUE(Steps(*view, Qt::Vertical, [&] { view->SmoothScroll(Qt::Vertical, scPageDown); }).empty());
    view->ScrollCommand(Qt::Vertical, scThumbTrack, 123);
    EXPECT_EQ(view->VertPosition(), 123);
    view->ScrollCommand(Qt::Vertical, scTop);
    EXPECT_EQ(view->VertPosition(), 0);
}

TEST_F(DocumentViewTest, ShortLineStepsAreZeroUntilTheLast)
{
    // 40 pixels high: the line distance is 40 * 9 / 10 / 10 = 3.
    auto view = ShowDocument(300, 40, 100, 3000);
    ASSERT_EQ(view->ClientHeight(), 40);
    EXPECT_EQ(Steps(*view, Qt::Vertical, [&] { view->SmoothScroll(Qt::Vertical, scLineDown); }),
              (std::vector<int>{3}));
}

TEST_F(DocumentViewTest, ScrollingRepaintsTheUncoveredStripAndTheOverlaysAtOnce)
{
    auto view = ShowDocument(300, 200, 100, 3000);
    QApplication::processEvents();
    TCorvOverlay& o = Overlays.Add(std::make_unique<TFillOverlay>(TCorvRectangle{10, 150, 20, 20}, 0xFFAA0000));
    o.SetVisible(true);
    TPaintCounter counter;
    view->viewport()->installEventFilter(&counter);
    view->ScrollCommand(Qt::Vertical, scThumbTrack, 100);
    view->viewport()->removeEventFilter(&counter);
    EXPECT_EQ(view->VertPosition(), 100);
    const int32_t w = view->ClientWidth();
    // Painted before the command returned: the rows the content uncovered,
    // the overlay at its place and where the scroll carried its old pixels.
    for (const QRect& r : {QRect(0, 100, w, 100), QRect(10, 150, 20, 20), QRect(10, 50, 20, 20)})
        EXPECT_TRUE(counter.Painted.contains(r)) << r.x() << "," << r.y();
    EXPECT_FALSE(counter.Painted.contains(QRect(0, 0, w, 40)));
    EXPECT_EQ(BufferPixel(*view, 15, 155), 0xFFAA0000u);
}

} // namespace
