#pragma once
// The numeric-resize dialog: the new width and height as absolute sizes,
// changes of the present size or percentages of it, and the seam-reuse
// percentages for growing. Every entry is checked before the dialog closes,
// and a bad one is shown in a balloon tip at its edit.
#include "forms/numericedit.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <optional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace Corvanith::Forms {

// The most pixels a picture may have: its 32-bit pixels must stay addressable
// with a signed 32-bit byte count, as the surfaces require.
inline constexpr int64_t MaxImagePixels = INT32_MAX / 4;

// Of the absolute values; the other value when one is 0, and 0 for two zeros.
// 64 bits wide because the divisor of two INT32_MIN is 2^31.
int64_t GreatestCommonDivisor(int32_t A, int32_t B);

// Reads one size entry against Current, the present size: "123" is absolute,
// "+123" and "-123" are changes, "12%" a share of Current and "+12%", "-12%"
// changes by a share (rounded half to even). A sign anywhere makes the entry
// relative and a percent sign anywhere makes it a share, but the first
// character is dropped for the sign and the last for the percent sign, so
// those belong at the ends. False when the rest is no integer or the result
// leaves the 32-bit range; Value is then left alone.
bool ParseSizeValue(const QString& S, int32_t Current, int32_t& Value);

// "w : h = r": the ratio reduced by the common divisor and as a number with
// two decimals (seven significant digits first, halves away from zero, the
// locale's decimal separator); "? : ? = ?" when Height is 0.
QString ProportionText(int32_t Width, int32_t Height);

enum class TResizeEntry { Width, Height, HorzReuse, VertReuse };

inline constexpr const char* InvalidValueTitle = "Invalid Value";
inline constexpr const char* NotAnIntegerMessage = "Value should be an integer number.";
inline constexpr const char* WidthTooSmallMessage = "Image should be at least 3 pixels in width.";
inline constexpr const char* HeightTooSmallMessage = "Image should be at least 3 pixels in height.";
inline constexpr const char* ImageTooLargeMessage = "Image should have at most 536870911 pixels.";
inline constexpr const char* ReuseRangeMessage = "Value should range from 1 to 100.";

// The outcome of checking the four entries in the dialog's order: either all
// four results, or the first bad entry and what is wrong with it.
struct TResizeCheck {
    std::optional<TResizeEntry> BadEntry;
    QString Message;
    int32_t NewWidth = 0;
    int32_t NewHeight = 0;
    double HorzReuse = 0;
    double VertReuse = 0;
};

TResizeCheck CheckResizeEntries(const QString& Width, const QString& Height, const QString& HorzReuse,
                                const QString& VertReuse, int32_t OriginalWidth, int32_t OriginalHeight);

// The icons of a balloon tip, numbered as the platform's tool tips number them.
enum class TBalloonIcon : uint8_t { None = 0, Info = 1, Warning = 2, Error = 3 };

// A balloon with an icon, a bold title and a text, its stem pointing at a
// control. It shows without taking the focus and goes away when clicked,
// when the control is edited, when the control's window moves, hides or
// closes, and after ten seconds. It belongs to the control.
class TBalloonTip : public QWidget {
    Q_OBJECT
public:
    TBalloonTip(QWidget& Anchor, TBalloonIcon Icon, const QString& Title, const QString& Text);

    QWidget& Anchor() const { return FAnchor; }
    TBalloonIcon Icon() const { return FIcon; }
    const QString& Title() const { return FTitle; }
    const QString& Text() const { return FText; }

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void Place();

    QWidget& FAnchor;
    const TBalloonIcon FIcon;
    const QString FTitle;
    const QString FText;
    bool FStemOnTop = true;
    int FStemX = 0;
};

// Shows a balloon at Edit, replacing one that Edit shows already.
TBalloonTip& ShowBalloonTip(QWidget& Edit, TBalloonIcon Icon, const QString& Title, const QString& Text);

class TResizeForm : public QDialog {
    Q_OBJECT
public:
    // Width and Height are the picture's present size; the dialog starts
    // with them as the new size and 33 % for both reuse entries.
    TResizeForm(QWidget* AOwner, int32_t Width, int32_t Height);

    int32_t OriginalWidth() const { return FOriginalWidth; }
    int32_t OriginalHeight() const { return FOriginalHeight; }
    // The results, valid once the dialog has closed with Accepted.
    int32_t NewWidth() const { return FNewWidth; }
    int32_t NewHeight() const { return FNewHeight; }
    double HorzReuse() const { return FHorzReuse; }
    double VertReuse() const { return FVertReuse; }

    Controls::TNumericEdit& WidthEdit() const { return *FWidthEdit; }
    Controls::TNumericEdit& HeightEdit() const { return *FHeightEdit; }
    Controls::TNumericEdit& HorzReuseEdit() const { return *FHorzReuseEdit; }
    Controls::TNumericEdit& VertReuseEdit() const { return *FVertReuseEdit; }
    QLabel& NewPropotionValueLabel() const { return *FNewPropotionValueLabel; }
    QLabel& OriginalProportionValueLabel() const { return *FOriginalProportionValueLabel; }
    QCheckBox& KeepProportionCheck() const { return *FKeepProportionCheck; }
    QPushButton& ResizeButton() const { return *FResizeButton; }
    QPushButton& CancelButton() const { return *FCancelButton; }
    // The balloon of the last refused entry while it shows, else null.
    const TBalloonTip* Balloon() const { return FBalloon; }

    void UpdateNewProportion();
    // Only the user's own edits count: text the program sets is no change.
    void WidthEditChange();
    void HeightEditChange();
    void KeepProportionCheckClick();
    // F4, with any modifiers, toggles the keep-proportion check.
    void FormKeyDown(int Key, Qt::KeyboardModifiers Shift);
    void ResizeButtonClick();
    void CancelButtonClick();

protected:
    // Every control here leaves F4 to its window, so the key arrives here
    // from whichever of them has the focus.
    void keyPressEvent(QKeyEvent* Event) override;

private:
    void FormCreate();
    void BuildControls();
    Controls::TNumericEdit& EditOf(TResizeEntry Entry) const;
    // A change of the user's in Edit (against Original) carried over to
    // Other when the proportion is kept: OtherSize gives Other's size from
    // Edit's with the original width / height ratio.
    void SizeEditChange(Controls::TNumericEdit& Edit, int32_t Original, Controls::TNumericEdit& Other,
                        double (*OtherSize)(int32_t Value, double Ratio));
    // Runs a change handler as though the user had just typed into Edit.
    void RunAsModified(Controls::TNumericEdit& Edit, void (TResizeForm::*Handler)());

    const int32_t FOriginalWidth;
    const int32_t FOriginalHeight;
    int32_t FNewWidth = 0;
    int32_t FNewHeight = 0;
    double FHorzReuse = 0;
    double FVertReuse = 0;

    // Owned by the dialog through Qt's parent links.
    QGroupBox* FNewSizeGroupBox = nullptr;
    Controls::TNumericEdit* FWidthEdit = nullptr;
    Controls::TNumericEdit* FHeightEdit = nullptr;
    QLabel* FWidthLabel = nullptr;
    QLabel* FHeightLabel = nullptr;
    QLabel* FStaticText1 = nullptr;
    QGroupBox* FReuseGroupBox = nullptr;
    QLabel* FHorzReuseLable = nullptr;
    QLabel* FVertReuseLable = nullptr;
    Controls::TNumericEdit* FHorzReuseEdit = nullptr;
    Controls::TNumericEdit* FVertReuseEdit = nullptr;
    QLabel* FHorzReusePercentsLabel = nullptr;
    QLabel* FVertReusePercentsLabel = nullptr;
    QGroupBox* FProportionGroupBox = nullptr;
    QLabel* FNewPropotionLabel = nullptr;
    QLabel* FOriginalProportionLabel = nullptr;
    QLabel* FNewPropotionValueLabel = nullptr;
    QLabel* FOriginalProportionValueLabel = nullptr;
    QCheckBox* FKeepProportionCheck = nullptr;
    QPushButton* FResizeButton = nullptr;
    QPushButton* FCancelButton = nullptr;
    QPointer<TBalloonTip> FBalloon;
};

} // namespace Corvanith::Forms
