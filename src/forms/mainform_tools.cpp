// The main window's tool commands, the refresh of its toolbars and status
// bar after every command, the decoding progress display, and saving.
#include "forms/mainform.h"

#include "document/document.h"
#include "document/layers.h"
#include "forms/about.h"
#include "forms/forms.h"
#include "forms/shield.h"
#include "graphics/surface.h"
#include "io/settings.h"
#include "platform/guid.h"
#include "view/brushtool.h"
#include "view/documentview.h"
#include "view/preservebrush.h"
#include "view/strokeseraser.h"
#include "view/tools.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QStatusBar>

namespace Corvanith::Forms {

namespace {

bool IsPreserveBrush(const View::TCorvTool* Tool)
{
    return Tool != nullptr && typeid(*Tool) == typeid(View::TCorvPreserveBrushTool);
}

} // namespace

template <typename TTool>
void TMainForm::ChooseTool()
{
    FTools->SelectTool(typeid(TTool));
    if (View->MouseInDocument()) {
        if (View::TCorvTool* tool = FTools->FindTool(typeid(TTool))) {
            const QPoint at = View->viewport()->mapFromGlobal(QCursor::pos());
            tool->MouseEnter(0, at.x(), at.y());
        }
    }
    if (FDocument) {
        FDocument->BrushesLayer().Hidden = false;
        View->Repaint();
    }
    UpdateBrushToolbar();
}

void TMainForm::PreserveBrushMenuItemClick() { ChooseTool<View::TCorvPreserveBrushTool>(); }
void TMainForm::BrushEraserMenuItemClick() { ChooseTool<View::TCorvStrokesEraserTool>(); }

void TMainForm::BrushSizeSpinEditValueChange(int Value)
{
    // Both brushes keep a size of their own.
    if (auto* brush = dynamic_cast<View::TCorvBrushTool*>(FTools->ActiveTool()))
        brush->SetSize(Value);
    View->Repaint();
}

void TMainForm::ViewClick() { View->Repaint(); }

void TMainForm::ViewMouseDown()
{
    // A press in the picture takes the keys back from a field that had them:
    // the arrows carve again.
    if (QWidget* focus = QApplication::focusWidget(); focus != nullptr && OwnsWidget(focus))
        focus->clearFocus();
    if (!FDocument)
        return;
    FDocument->BrushesLayer().Hidden = false;
    View->Repaint();
}

void TMainForm::ToolMenuPopup()
{
    if (IsPreserveBrush(FTools->ActiveTool()))
        PreserveBrushMenuItem->setChecked(true);
    else
        BrushEraserMenuItem->setChecked(true);
    const int size = BrushSizeSpinEdit->value();
    DecreaseToolSizeMenuItem->setEnabled(size != BrushSizeSpinEdit->minimum());
    IncreaseToolSizeMenuItem->setEnabled(size != BrushSizeSpinEdit->maximum());
    const bool hidden = FDocument && FDocument->BrushesLayer().Hidden;
    HideStrokesMenuItem->setText(hidden ? QStringLiteral("Show Brush Strokes") : QStringLiteral("Hide Brush Strokes"));
}

void TMainForm::DecreaseToolSizeMenuItemClick()
{
    BrushSizeSpinEdit->setValue(BrushSizeSpinEdit->value() - BrushSizeSpinEdit->singleStep());
}

void TMainForm::IncreaseToolSizeMenuItemClick()
{
    BrushSizeSpinEdit->setValue(BrushSizeSpinEdit->value() + BrushSizeSpinEdit->singleStep());
}

void TMainForm::HideStrokesMenuItemClick()
{
    if (!FDocument)
        return;
    bool& hidden = FDocument->BrushesLayer().Hidden;
    hidden = !hidden;
    View->Repaint();
}

void TMainForm::UpdateControls()
{
    UpdateFileToolbar();
    UpdateRetargetingToolbar();
    UpdateBrushToolbar();
    UpdateStatusBar();
}

void TMainForm::UpdateFileToolbar()
{
    OpenToolbarItem->setEnabled(true);
    OpenUrlToolbarItem->setEnabled(true);
    RefreshToolbarItem->setEnabled(CanRefresh());
    SaveToolbarItem->setEnabled(FDocument != nullptr);
}

void TMainForm::UpdateBrushToolbar()
{
    const View::TCorvTool* active = FTools->ActiveTool();
    if (IsPreserveBrush(active))
        PreserveBrushToolbarItem->setChecked(true);
    else
        StrokesEraserToolbarItem->setChecked(true);
    if (const auto* brush = dynamic_cast<const View::TCorvBrushTool*>(active))
        BrushSizeSpinEdit->setValue(brush->Size());
}

void TMainForm::UpdateStatusBar()
{
    if (FDocument) {
        const Document::TCorvImageLayer& image = FDocument->ImageLayer();
        StatusPanel1->setText(QString::number(image.GetWidth()) + QStringLiteral(" x ")
                              + QString::number(image.GetHeight()));
    } else {
        StatusPanel1->clear();
    }
}

void TMainForm::LoadProgress(const void*, int32_t Position, int32_t Size)
{
    if (Position == -1) {
        StatusPanel0->clear();
        ProgressBar->hide();
        return;
    }
    ProgressBar->setMaximum(Size);
    ProgressBar->setValue(Position);
    StatusPanel0->setText(QStringLiteral("Opening..."));
    if (ProgressBar->isHidden()) {
        ProgressBar->show();
        statusBar()->repaint();
        ProgressBar->repaint();
    }
}

void TMainForm::SaveMenuItemClick()
{
    RefreshNow();
    TShieldForm::RunShielded(*this, [this](QWidget&) {
        QFileDialog dialog(this, QStringLiteral("Save"), QString(), Settings::FileDialogFilter(Settings::BmpFilter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QString::fromUtf8(Settings::BmpDefaultExt));
        dialog.selectFile(QStringLiteral("image.bmp"));
        FSaveFileName.clear();
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            RefreshNow();
            FSaveFileName = dialog.selectedFiles().constFirst();
        }
    });
    RefreshNow();
    // Only the picture, always as BMP whatever the name's extension.
    if (!FSaveFileName.isEmpty() && FDocument)
        FDocument->ImageLayer().Surface().SaveToFile(FSaveFileName, Platform::ImageFormatBMP);
    UpdateControls();
}

void TMainForm::ExitMenuItemClick() { close(); }

void TMainForm::AboutMenuItemClick()
{
    TShieldForm::RunShielded(*this, [this](QWidget&) {
        TAboutForm about(this);
        PositionForm(about, *this, 0.5f, 0.33f);
        about.exec();
    });
}

} // namespace Corvanith::Forms
