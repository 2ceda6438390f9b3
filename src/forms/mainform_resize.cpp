// The main window's resize commands: one seam per key press, menu item or
// toolbar button, steered by the brush strokes as the preserve mask.
#include "forms/mainform.h"

#include "document/document.h"
#include "document/layers.h"
#include "forms/forms.h"
#include "forms/resize.h"
#include "forms/shield.h"
#include "graphics/surface.h"
#include "platform/codecs.h"
#include "retargeting/seam_iterative_resizer.h"
#include "view/documentview.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <algorithm>
#include <cstdlib>

namespace Corvanith::Forms {

namespace {

// Decreasing needs more than this many pixels.
constexpr int32_t MinDecreasableSide = 3;
// Increasing stops at the longest side that can be opened again once saved.
constexpr int32_t MaxIncreasableSide = Platform::MaxDecodedExtent;

} // namespace

void TMainForm::CreateResizeMenu()
{
    ResizeMenu = menuBar()->addMenu(QStringLiteral("&Resize"));
    connect(ResizeMenu, &QMenu::aboutToShow, this, &TMainForm::ResizeMenuPopup);
    ResizeMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("&Numeric Resize..."), QKeySequence(Qt::CTRL | Qt::Key_R),
                                 &TMainForm::ResizeMenuPopup, OwnIcon("resize"));
    ResizeMenu->addSeparator();
    DecWidthMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Decrease &Width"), QKeySequence(Qt::Key_Left),
                                   &TMainForm::ResizeMenuPopup, StandardIcon(QStyle::SP_ArrowLeft));
    DecHeightMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Decrease &Height"), QKeySequence(Qt::Key_Down),
                                    &TMainForm::ResizeMenuPopup, StandardIcon(QStyle::SP_ArrowDown));
    ResizeMenu->addSeparator();
    IncWidthMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Increase W&idth"), QKeySequence(Qt::Key_Right),
                                   &TMainForm::ResizeMenuPopup, StandardIcon(QStyle::SP_ArrowRight));
    IncHeightMenuItem = AddMenuItem(*ResizeMenu, QStringLiteral("Increase H&eight"), QKeySequence(Qt::Key_Up),
                                    &TMainForm::ResizeMenuPopup, StandardIcon(QStyle::SP_ArrowUp));
    connect(DecWidthMenuItem, &QAction::triggered, this, &TMainForm::DecWidthMenuItemClick);
    connect(DecHeightMenuItem, &QAction::triggered, this, &TMainForm::DecHeightMenuItemClick);
    connect(IncWidthMenuItem, &QAction::triggered, this, &TMainForm::IncWidthMenuItemClick);
    connect(IncHeightMenuItem, &QAction::triggered, this, &TMainForm::IncHeightMenuItemClick);
    connect(ResizeMenuItem, &QAction::triggered, this, &TMainForm::ResizeMenuItemClick);
}

void TMainForm::CreateRetargetingToolbar()
{
    RetargetingToolbar = AddDockedToolbar(QStringLiteral("RetargetingToolbar"));
    ResizeToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Resize"), OwnIcon("resize"),
                                       *ResizeMenuItem, &TMainForm::ResizeMenuPopup);
    ResizeToolbarItem->setToolTip(QStringLiteral("Numeric Resize"));
    RetargetingToolbar->addSeparator();
    DecreaseWidthToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Decrease Width (Left Arrow)"),
                                              StandardIcon(QStyle::SP_ArrowLeft), *DecWidthMenuItem,
                                              &TMainForm::ResizeMenuPopup);
    DecreaseHeightToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Decrease Height (Down Arrow)"),
                                               StandardIcon(QStyle::SP_ArrowDown), *DecHeightMenuItem,
                                               &TMainForm::ResizeMenuPopup);
    IncreaseWidthToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Increase Width (Right Arrow)"),
                                              StandardIcon(QStyle::SP_ArrowRight), *IncWidthMenuItem,
                                              &TMainForm::ResizeMenuPopup);
    IncreaseHeightToolbarItem = AddToolbarTwin(*RetargetingToolbar, QStringLiteral("Increase Height (Up Arrow)"),
                                               StandardIcon(QStyle::SP_ArrowUp), *IncHeightMenuItem,
                                               &TMainForm::ResizeMenuPopup);
    SeamReuseLabel = new QLabel(QStringLiteral("Reuse:"), RetargetingToolbar);
    SeamReuseLabel->setMargin(2);
    RetargetingToolbar->addWidget(SeamReuseLabel);
    SeamReuseSpinEdit = new QSpinBox(RetargetingToolbar);
    SeamReuseSpinEdit->setRange(1, 100);
    SeamReuseSpinEdit->setValue(33);
    SeamReuseSpinEdit->setSuffix(QStringLiteral("%"));
    SeamReuseSpinEdit->setFocusPolicy(Qt::ClickFocus);
    RetargetingToolbar->addWidget(SeamReuseSpinEdit);
}

Graphics::TCorvSurface* TMainForm::PreserveMask() const
{
    Document::TCorvBrushesLayer& brushes = FDocument->BrushesLayer();
    return brushes.HasBrushes() ? &brushes.GetSurface() : nullptr;
}

void TMainForm::ImageSizeChanged()
{
    FDocument->ImageLayer().SurfaceChanged();
    View->PictureChanged();
}

void TMainForm::RemoveVerticalSeam() { FResizer->RemoveVerticalSeams(1); }
void TMainForm::RemoveHorizontalSeam() { FResizer->RemoveHorizontalSeams(1); }
void TMainForm::InsertVerticalSeam() { FResizer->InsertVerticalSeams(1, SeamReuseSpinEdit->value() / 100.0); }
void TMainForm::InsertHorizontalSeam() { FResizer->InsertHorizontalSeams(1, SeamReuseSpinEdit->value() / 100.0); }

void TMainForm::ResizeOneSeam(void (TMainForm::*Step)())
{
    if (!FDocument)
        return;
    FResizer->SetMask(PreserveMask());
    // A step that fails part-way may have changed the picture all the same:
    // the document and the controls follow it before the error is shown.
    try {
        (this->*Step)();
    } catch (...) {
        FollowPicture();
        throw;
    }
    FollowPicture();
}

void TMainForm::FollowPicture()
{
    if (FDocument)
        ImageSizeChanged();
    View->Repaint();
    UpdateControls();
    statusBar()->repaint();
}

void TMainForm::DecWidthMenuItemClick() { ResizeOneSeam(&TMainForm::RemoveVerticalSeam); }
void TMainForm::DecHeightMenuItemClick() { ResizeOneSeam(&TMainForm::RemoveHorizontalSeam); }
void TMainForm::IncWidthMenuItemClick() { ResizeOneSeam(&TMainForm::InsertVerticalSeam); }
void TMainForm::IncHeightMenuItemClick() { ResizeOneSeam(&TMainForm::InsertHorizontalSeam); }

void TMainForm::ResizeMenuPopup()
{
    const bool open = FDocument != nullptr;
    ResizeMenuItem->setEnabled(open && !FResizing);
    DecWidthMenuItem->setEnabled(open && FDocument->ImageLayer().GetWidth() > MinDecreasableSide);
    DecHeightMenuItem->setEnabled(open && FDocument->ImageLayer().GetHeight() > MinDecreasableSide);
    IncWidthMenuItem->setEnabled(open && FDocument->ImageLayer().GetWidth() < MaxIncreasableSide);
    IncHeightMenuItem->setEnabled(open && FDocument->ImageLayer().GetHeight() < MaxIncreasableSide);
}

void TMainForm::UpdateRetargetingToolbar()
{
    const bool open = FDocument != nullptr;
    ResizeToolbarItem->setEnabled(open);
    DecreaseWidthToolbarItem->setEnabled(open && FDocument->ImageLayer().GetWidth() > MinDecreasableSide);
    DecreaseHeightToolbarItem->setEnabled(open && FDocument->ImageLayer().GetHeight() > MinDecreasableSide);
    IncreaseWidthToolbarItem->setEnabled(open && FDocument->ImageLayer().GetWidth() < MaxIncreasableSide);
    IncreaseHeightToolbarItem->setEnabled(open && FDocument->ImageLayer().GetHeight() < MaxIncreasableSide);
    SeamReuseLabel->setEnabled(open);
    SeamReuseSpinEdit->setEnabled(open);
}

void TMainForm::ExecuteResizeDialog()
{
    const Document::TCorvImageLayer& image = FDocument->ImageLayer();
    TResizeForm dialog(this, image.GetWidth(), image.GetHeight());
    PositionForm(dialog, *this, 0.5f, 0.33f);
    // Only a press from now on stops the run.
    FEscapeDown = false;
    if (dialog.exec() == QDialog::Accepted) {
        ResizeWidth = dialog.NewWidth();
        ResizeHeight = dialog.NewHeight();
        HorzReuse = dialog.HorzReuse();
        VertReuse = dialog.VertReuse();
    } else {
        ResizeWidth = -1;
    }
}

namespace {

// A numeric run: the menu bar and the toolbars disabled and panel 0 asking
// for Esc while it lasts, given back however the run ends.
class TNumericRun {
public:
    TNumericRun(QMainWindow& Window, QLabel& Panel, bool& Running) : FWindow(Window), FPanel(Panel), FRunning(Running)
    {
        FRunning = true;
        SetDocksEnabled(false);
        FPanel.setText(QStringLiteral("Press Esc to stop..."));
    }
    TNumericRun(const TNumericRun&) = delete;
    TNumericRun& operator=(const TNumericRun&) = delete;
    ~TNumericRun()
    {
        SetDocksEnabled(true);
        FPanel.clear();
        FRunning = false;
    }

private:
    void SetDocksEnabled(bool Enabled)
    {
        FWindow.menuBar()->setEnabled(Enabled);
        for (QToolBar* toolbar : FWindow.findChildren<QToolBar*>())
            toolbar->setEnabled(Enabled);
    }

    QMainWindow& FWindow;
    QLabel& FPanel;
    bool& FRunning;
};

} // namespace

void TMainForm::ResizeMenuItemClick()
{
    if (!FDocument || FResizing)
        return;
    TShieldForm::RunShielded(*this, [this](QWidget&) { ExecuteResizeDialog(); });
    QCoreApplication::processEvents();
    // The pump may have closed the document meanwhile.
    if (ResizeWidth == -1 || !FDocument)
        return;
    Document::TCorvDocument* const doc = FDocument.get();
    try {
        const TNumericRun run(*this, *StatusPanel0, FResizing);
        doc->BrushesLayer().Hidden = true;
        View->Repaint();
        const int32_t dW = ResizeWidth - doc->ImageLayer().GetWidth();
        const int32_t dH = ResizeHeight - doc->ImageLayer().GetHeight();
        const int32_t n = std::max(std::abs(dW), std::abs(dH));
        for (int32_t i = 0; i <= n; ++i) {
            // Messages handled between the steps may have opened another
            // document or closed the window; the run ends with either.
            if (FDocument.get() != doc || !isVisible())
                break;
            // Read afresh: a stroke made during the run is carved from then on.
            FResizer->SetMask(PreserveMask());
            // Seams changed by the arrow keys meanwhile count against the
            // run's: the picture keeps within the sides the dialog allows.
            const Graphics::TCorvSurface& picture = doc->ImageLayer().Surface();
            if (i < std::abs(dW)) {
                if (dW < 0 && picture.Width() > MinDecreasableSide)
                    FResizer->RemoveVerticalSeams(1);
                else if (dW >= 0 && picture.Width() < MaxIncreasableSide)
                    FResizer->InsertVerticalSeams(1, HorzReuse);
            }
            if (i < std::abs(dH)) {
                if (dH < 0 && picture.Height() > MinDecreasableSide)
                    FResizer->RemoveHorizontalSeams(1);
                else if (dH >= 0 && picture.Height() < MaxIncreasableSide)
                    FResizer->InsertHorizontalSeams(1, VertReuse);
            }
            if (i % 2 == 0) {
                ImageSizeChanged();
                View->Repaint();
                UpdateStatusBar();
                QCoreApplication::processEvents();
                if (FEscapeDown)
                    break;
            }
        }
    } catch (...) {
        // As after a single step: the document follows what a failed step left.
        FollowPicture();
        throw;
    }
    View->Repaint();
    UpdateStatusBar();
    UpdateControls();
}

} // namespace Corvanith::Forms
