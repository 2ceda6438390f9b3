#include "forms/resize.h"

#include "forms/forms.h"
#include "io/utils.h"
#include "platform/codecs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Corvanith::Forms {

namespace {

const QString UnknownProportion = QStringLiteral("? : ? = ?");

int64_t Pow10(int Exponent)
{
    int64_t result = 1;
    for (int i = 0; i < Exponent; ++i)
        result *= 10;
    return result;
}

// X with two decimals after rounding it to seven significant digits, both
// roundings on the decimal digits with halves away from zero, so that a
// ratio such as 201 / 200 reads 1.01 although its binary value lies just
// below 1.005. |X| stays below 10^10 here (a ratio of 32-bit sizes).
QString FixedTwoDecimals(double X)
{
    const QString text = QString::number(std::fabs(X), 'e', 6); // "d.dddddde+XX"
    const qsizetype e = text.indexOf(u'e');
    const int exponent = text.mid(e + 1).toInt();
    const int64_t mantissa = (text.left(1) + text.mid(2, e - 2)).toLongLong();
    // mantissa x 10^(exponent - 6) in hundredths is mantissa x 10^(exponent - 4).
    const int shift = exponent - 4;
    int64_t hundredths = 0;
    if (shift >= 0) {
        hundredths = mantissa * Pow10(shift);
    } else if (shift >= -7) {
        const int64_t divisor = Pow10(-shift);
        hundredths = (mantissa + divisor / 2) / divisor;
    }
    const QString sign = X < 0 && hundredths != 0 ? QStringLiteral("-") : QString();
    return sign + QString::number(hundredths / 100) + QLocale().decimalPoint()
        + QStringLiteral("%1").arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

// Round(Value), halves to even, when it is a 32-bit integer.
std::optional<int32_t> RoundedSize(double Value)
{
    const double rounded = std::nearbyint(Value);
    if (!(rounded >= INT32_MIN && rounded <= INT32_MAX))
        return std::nullopt;
    return int32_t(rounded);
}

// The longest side a picture may have and still open again once saved.
QString ExtentTooLargeMessage(const char* Side)
{
    return QStringLiteral("Image should be at most %1 pixels in %2.")
        .arg(Platform::MaxDecodedExtent)
        .arg(QLatin1String(Side));
}

std::optional<double> ParseReuse(const QString& S, QString& Message)
{
    int32_t percent = 0;
    if (!Utils::TryStrToInt(S, percent)) {
        Message = QString::fromUtf8(NotAnIntegerMessage);
        return std::nullopt;
    }
    if (percent < 1 || percent > 100) {
        Message = QString::fromUtf8(ReuseRangeMessage);
        return std::nullopt;
    }
    return percent / 100.0;
}

} // namespace

int64_t GreatestCommonDivisor(int32_t A, int32_t B)
{
    // Euclid's remainders: repeated subtraction would take up to 2^31 steps.
    int64_t a = std::abs(int64_t(A));
    int64_t b = std::abs(int64_t(B));
    while (b != 0) {
        const int64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

bool ParseSizeValue(const QString& S, int32_t Current, int32_t& Value)
{
    const int sign = S.contains(u'+') ? 1 : S.contains(u'-') ? -1 : 0;
    const bool percent = S.contains(u'%');
    QString number = S;
    if (percent)
        number.chop(1);
    if (sign != 0)
        number.remove(0, 1);
    int32_t n = 0;
    if (!Utils::TryStrToInt(number, n))
        return false;
    int64_t amount = n;
    if (percent) {
        const std::optional<int32_t> share = RoundedSize(double(n) * (double(Current) / 100.0));
        if (!share)
            return false;
        amount = *share;
    }
    const int64_t result = sign == 0 ? amount : Current + sign * amount;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    Value = int32_t(result);
    return true;
}

QString ProportionText(int32_t Width, int32_t Height)
{
    if (Height == 0)
        return UnknownProportion;
    const int64_t g = GreatestCommonDivisor(Width, Height);
    const int64_t w = Width / g;
    const int64_t h = Height / g;
    return QStringLiteral("%1 : %2 = %3").arg(w).arg(h).arg(FixedTwoDecimals(double(w) / double(h)));
}

TResizeCheck CheckResizeEntries(const QString& Width, const QString& Height, const QString& HorzReuse,
                                const QString& VertReuse, int32_t OriginalWidth, int32_t OriginalHeight)
{
    TResizeCheck check;
    auto refuse = [&check](TResizeEntry Entry, const QString& Message) {
        check.BadEntry = Entry;
        check.Message = Message;
        return check;
    };
    if (!ParseSizeValue(Width, OriginalWidth, check.NewWidth))
        return refuse(TResizeEntry::Width, QString::fromUtf8(NotAnIntegerMessage));
    if (check.NewWidth < 3)
        return refuse(TResizeEntry::Width, QString::fromUtf8(WidthTooSmallMessage));
    if (check.NewWidth > Platform::MaxDecodedExtent)
        return refuse(TResizeEntry::Width, ExtentTooLargeMessage("width"));
    if (!ParseSizeValue(Height, OriginalHeight, check.NewHeight))
        return refuse(TResizeEntry::Height, QString::fromUtf8(NotAnIntegerMessage));
    if (check.NewHeight < 3)
        return refuse(TResizeEntry::Height, QString::fromUtf8(HeightTooSmallMessage));
    if (check.NewHeight > Platform::MaxDecodedExtent)
        return refuse(TResizeEntry::Height, ExtentTooLargeMessage("height"));
    // A picture that big could not be held; growing towards it would only
    // fail after a long run. The entry that was changed is the one to blame.
    if (int64_t(check.NewWidth) * check.NewHeight > MaxImagePixels)
        return refuse(check.NewHeight != OriginalHeight ? TResizeEntry::Height : TResizeEntry::Width,
                      QString::fromUtf8(ImageTooLargeMessage));
    QString message;
    const std::optional<double> horz = ParseReuse(HorzReuse, message);
    if (!horz)
        return refuse(TResizeEntry::HorzReuse, message);
    const std::optional<double> vert = ParseReuse(VertReuse, message);
    if (!vert)
        return refuse(TResizeEntry::VertReuse, message);
    check.HorzReuse = *horz;
    check.VertReuse = *vert;
    return check;
}

namespace {

constexpr int BalloonStemHeight = 12;
constexpr int BalloonStemWidth = 14;
constexpr int BalloonRadius = 6;
constexpr int BalloonPadding = 8;
constexpr int BalloonTimeoutMs = 10000;

QStyle::StandardPixmap IconPixmap(TBalloonIcon Icon)
{
    switch (Icon) {
    case TBalloonIcon::Info:
        return QStyle::SP_MessageBoxInformation;
    case TBalloonIcon::Warning:
        return QStyle::SP_MessageBoxWarning;
    default:
        return QStyle::SP_MessageBoxCritical;
    }
}

} // namespace

TBalloonTip::TBalloonTip(QWidget& Anchor, TBalloonIcon Icon, const QString& Title, const QString& Text)
    : QWidget(&Anchor, Qt::ToolTip | Qt::FramelessWindowHint), FAnchor(Anchor), FIcon(Icon), FTitle(Title),
      FText(Text)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(Anchor.font());

    auto* layout = new QGridLayout(this);
    layout->setHorizontalSpacing(6);
    int column = 0;
    if (Icon != TBalloonIcon::None) {
        const int extent = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
        auto* icon = new QLabel(this);
        icon->setPixmap(style()->standardIcon(IconPixmap(Icon), nullptr, this).pixmap(extent, extent));
        layout->addWidget(icon, 0, column++, Qt::AlignTop);
    }
    auto* title = new QLabel(Title, this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title, 0, column);
    layout->addWidget(new QLabel(Text, this), 1, column);
    for (QLabel* label : findChildren<QLabel*>())
        label->setForegroundRole(QPalette::ToolTipText);

    if (auto* edit = qobject_cast<QLineEdit*>(&Anchor))
        connect(edit, &QLineEdit::textEdited, this, &QWidget::close);
    Anchor.window()->installEventFilter(this);
    QTimer::singleShot(BalloonTimeoutMs, this, &QWidget::close);
    Place();
}

void TBalloonTip::Place()
{
    // The stem points at the lower edge of the control, a little way in from
    // its left; the balloon hangs below unless the screen ends first.
    const int tipX = std::min(FAnchor.width() / 2, 24);
    const QPoint below = FAnchor.mapToGlobal(QPoint(tipX, FAnchor.height() - 2));
    const QPoint above = FAnchor.mapToGlobal(QPoint(tipX, 2));
    layout()->setContentsMargins(BalloonPadding, BalloonPadding + BalloonStemHeight, BalloonPadding, BalloonPadding);
    const QSize size = sizeHint();
    const QScreen* screen = FAnchor.screen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(below, size);
    FStemOnTop = below.y() + size.height() <= area.bottom() + 1 || above.y() - size.height() < area.top();
    const QPoint tip = FStemOnTop ? below : above;
    if (!FStemOnTop)
        layout()->setContentsMargins(BalloonPadding, BalloonPadding, BalloonPadding,
                                     BalloonPadding + BalloonStemHeight);
    const int left = std::clamp(tip.x() - 2 * BalloonRadius, area.left(),
                                std::max(area.left(), area.right() + 1 - size.width()));
    FStemX = std::clamp(tip.x() - left, BalloonRadius, size.width() - BalloonRadius - BalloonStemWidth);
    setGeometry(QRect(QPoint(left, FStemOnTop ? tip.y() : tip.y() - size.height()), size));
}

namespace {

// The balloon's outline in its own coordinates: a rounded body and a stem
// whose tip is at StemX on the top or the bottom edge.
QPainterPath BalloonPath(QSize Size, bool StemOnTop, int StemX)
{
    const int bodyTop = StemOnTop ? BalloonStemHeight : 0;
    const QRectF body(0.5, bodyTop + 0.5, Size.width() - 1.0, Size.height() - BalloonStemHeight - 1.0);
    QPainterPath path;
    path.addRoundedRect(body, BalloonRadius, BalloonRadius);
    const double tipY = StemOnTop ? 0.5 : Size.height() - 0.5;
    const double baseY = StemOnTop ? body.top() + 1 : body.bottom() - 1;
    QPainterPath stem;
    stem.moveTo(StemX, tipY);
    stem.lineTo(StemX, baseY);
    stem.lineTo(StemX + BalloonStemWidth, baseY);
    stem.closeSubpath();
    return path.united(stem);
}

} // namespace

void TBalloonTip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::ToolTipText), 1));
    painter.setBrush(palette().color(QPalette::ToolTipBase));
    painter.drawPath(BalloonPath(size(), FStemOnTop, FStemX));
}

void TBalloonTip::resizeEvent(QResizeEvent*)
{
    // A mask rather than a translucent window: it needs no compositor. It
    // takes in the outline's pen as well.
    const QPainterPath path = BalloonPath(size(), FStemOnTop, FStemX);
    QPainterPathStroker pen;
    pen.setWidth(2);
    setMask(QRegion(path.united(pen.createStroke(path)).toFillPolygon().toPolygon()));
}

void TBalloonTip::mousePressEvent(QMouseEvent*)
{
    close();
}

bool TBalloonTip::eventFilter(QObject* Watched, QEvent* Event)
{
    switch (Event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Hide:
    case QEvent::Close:
    case QEvent::WindowDeactivate:
        close();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(Watched, Event);
}

TBalloonTip& ShowBalloonTip(QWidget& Edit, TBalloonIcon Icon, const QString& Title, const QString& Text)
{
    for (TBalloonTip* old : Edit.findChildren<TBalloonTip*>(Qt::FindDirectChildrenOnly))
        old->close();
    auto* balloon = new TBalloonTip(Edit, Icon, Title, Text);
    if (Edit.isVisible())
        balloon->show();
    return *balloon;
}

TResizeForm::TResizeForm(QWidget* AOwner, int32_t Width, int32_t Height)
    : QDialog(AOwner), FOriginalWidth(Width), FOriginalHeight(Height)
{
    BuildControls();
    FormCreate();
}

void TResizeForm::BuildControls()
{
    setWindowTitle(QStringLiteral("Numeric Resize"));

    using Controls::TNumericEdit;
    auto edit = [](QWidget* Parent) {
        auto* e = new TNumericEdit(Parent);
        e->setFixedWidth(55);
        return e;
    };

    FNewSizeGroupBox = new QGroupBox(QStringLiteral(" New size "), this);
    FWidthLabel = new QLabel(QStringLiteral("Width:"), FNewSizeGroupBox);
    FHeightLabel = new QLabel(QStringLiteral("Height:"), FNewSizeGroupBox);
    FWidthEdit = edit(FNewSizeGroupBox);
    FHeightEdit = edit(FNewSizeGroupBox);
    FStaticText1 = new QLabel(QStringLiteral("Examples:  123, +123, -123, 12%, -12%."), FNewSizeGroupBox);
    auto* sizeGrid = new QGridLayout(FNewSizeGroupBox);
    sizeGrid->addWidget(FWidthLabel, 0, 0);
    sizeGrid->addWidget(FHeightLabel, 0, 1);
    sizeGrid->addWidget(FWidthEdit, 1, 0);
    sizeGrid->addWidget(FHeightEdit, 1, 1);
    sizeGrid->addWidget(FStaticText1, 2, 0, 1, 2);

    FReuseGroupBox = new QGroupBox(QStringLiteral(" Image reuse on grow "), this);
    FHorzReuseLable = new QLabel(QStringLiteral("Horizontal:"), FReuseGroupBox);
    FVertReuseLable = new QLabel(QStringLiteral("Vertical:"), FReuseGroupBox);
    FHorzReuseEdit = edit(FReuseGroupBox);
    FVertReuseEdit = edit(FReuseGroupBox);
    FHorzReuseEdit->setText(QStringLiteral("33"));
    FVertReuseEdit->setText(QStringLiteral("33"));
    FHorzReusePercentsLabel = new QLabel(QStringLiteral("%"), FReuseGroupBox);
    FVertReusePercentsLabel = new QLabel(QStringLiteral("%"), FReuseGroupBox);
    auto* reuseGrid = new QGridLayout(FReuseGroupBox);
    auto withPercent = [](TNumericEdit* Edit, QLabel* Percent) {
        auto* row = new QHBoxLayout;
        row->addWidget(Edit);
        row->addWidget(Percent);
        row->addStretch();
        return row;
    };
    reuseGrid->addWidget(FHorzReuseLable, 0, 0);
    reuseGrid->addWidget(FVertReuseLable, 0, 1);
    reuseGrid->addLayout(withPercent(FHorzReuseEdit, FHorzReusePercentsLabel), 1, 0);
    reuseGrid->addLayout(withPercent(FVertReuseEdit, FVertReusePercentsLabel), 1, 1);

    FProportionGroupBox = new QGroupBox(QStringLiteral(" Proportion "), this);
    FNewPropotionLabel = new QLabel(QStringLiteral("New:"), FProportionGroupBox);
    FOriginalProportionLabel = new QLabel(QStringLiteral("Original:"), FProportionGroupBox);
    FNewPropotionValueLabel = new QLabel(FProportionGroupBox);
    FOriginalProportionValueLabel = new QLabel(FProportionGroupBox);
    FKeepProportionCheck = new QCheckBox(QStringLiteral("Keep original proportion"), FProportionGroupBox);
    FKeepProportionCheck->setToolTip(QStringLiteral("Press F4 to toggle"));
    auto* proportionGrid = new QGridLayout(FProportionGroupBox);
    proportionGrid->addWidget(FNewPropotionLabel, 0, 0);
    proportionGrid->addWidget(FOriginalProportionLabel, 0, 1);
    proportionGrid->addWidget(FNewPropotionValueLabel, 1, 0);
    proportionGrid->addWidget(FOriginalProportionValueLabel, 1, 1);
    proportionGrid->addWidget(FKeepProportionCheck, 2, 0, 1, 2);
    // The second column starts at the same place in every group.
    for (QGridLayout* grid : {sizeGrid, reuseGrid, proportionGrid}) {
        for (int column = 0; column < 2; ++column) {
            grid->setColumnStretch(column, 1);
            grid->setColumnMinimumWidth(column, 110);
        }
    }

    FResizeButton = new QPushButton(QStringLiteral("Resize"), this);
    FCancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    FResizeButton->setDefault(true);
    for (QPushButton* button : {FResizeButton, FCancelButton})
        button->setMinimumSize(75, 23);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(FResizeButton);
    buttons->addWidget(FCancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(FNewSizeGroupBox);
    layout->addWidget(FReuseGroupBox);
    layout->addWidget(FProportionGroupBox);
    layout->addStretch();
    layout->addLayout(buttons);

    setTabOrder(FWidthEdit, FHeightEdit);
    setTabOrder(FHeightEdit, FHorzReuseEdit);
    setTabOrder(FHorzReuseEdit, FVertReuseEdit);
    setTabOrder(FVertReuseEdit, FKeepProportionCheck);
    setTabOrder(FKeepProportionCheck, FResizeButton);
    setTabOrder(FResizeButton, FCancelButton);

    connect(FWidthEdit, &QLineEdit::textChanged, this, [this] { WidthEditChange(); });
    connect(FHeightEdit, &QLineEdit::textChanged, this, [this] { HeightEditChange(); });
    connect(FKeepProportionCheck, &QCheckBox::clicked, this, [this] { KeepProportionCheckClick(); });
    connect(FResizeButton, &QPushButton::clicked, this, [this] { ResizeButtonClick(); });
    connect(FCancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
}

void TResizeForm::FormCreate()
{
    setFont(MessageFont());
    FWidthEdit->setText(QString::number(FOriginalWidth));
    FHeightEdit->setText(QString::number(FOriginalHeight));
    const QString proportion = ProportionText(FOriginalWidth, FOriginalHeight);
    FOriginalProportionValueLabel->setText(proportion);
    FNewPropotionValueLabel->setText(proportion);
    FWidthEdit->setFocus();
    FWidthEdit->selectAll();
    // A fixed border at the designed size, or larger where the font needs it.
    setFixedSize(sizeHint().expandedTo(QSize(254, 338)));
}

void TResizeForm::UpdateNewProportion()
{
    int32_t w = 0;
    int32_t h = 0;
    if (ParseSizeValue(FWidthEdit->text(), FOriginalWidth, w) && ParseSizeValue(FHeightEdit->text(), FOriginalHeight, h))
        FNewPropotionValueLabel->setText(ProportionText(w, h));
    else
        FNewPropotionValueLabel->setText(UnknownProportion);
}

void TResizeForm::SizeEditChange(Controls::TNumericEdit& Edit, int32_t Original, Controls::TNumericEdit& Other,
                                 double (*OtherSize)(int32_t Value, double Ratio))
{
    if (!Edit.isModified())
        return;
    int32_t value = 0;
    // Without a ratio (a side of 0) there is nothing to keep.
    if (FKeepProportionCheck->isChecked() && FOriginalWidth != 0 && FOriginalHeight != 0
        && ParseSizeValue(Edit.text(), Original, value)) {
        if (const auto other = RoundedSize(OtherSize(value, double(FOriginalWidth) / FOriginalHeight)))
            Other.setText(QString::number(*other));
    }
    UpdateNewProportion();
}

void TResizeForm::WidthEditChange()
{
    SizeEditChange(*FWidthEdit, FOriginalWidth, *FHeightEdit,
                   [](int32_t Width, double Ratio) { return Width / Ratio; });
}

void TResizeForm::HeightEditChange()
{
    SizeEditChange(*FHeightEdit, FOriginalHeight, *FWidthEdit,
                   [](int32_t Height, double Ratio) { return Ratio * Height; });
}

void TResizeForm::RunAsModified(Controls::TNumericEdit& Edit, void (TResizeForm::*Handler)())
{
    Edit.setModified(true);
    (this->*Handler)();
    Edit.setModified(false);
}

void TResizeForm::KeepProportionCheckClick()
{
    if (!FKeepProportionCheck->isChecked())
        return;
    int32_t value = 0;
    if (ParseSizeValue(FWidthEdit->text(), FOriginalWidth, value) && value != FOriginalWidth)
        RunAsModified(*FWidthEdit, &TResizeForm::WidthEditChange);
    else if (ParseSizeValue(FHeightEdit->text(), FOriginalHeight, value) && value != FOriginalHeight)
        RunAsModified(*FHeightEdit, &TResizeForm::HeightEditChange);
}

void TResizeForm::FormKeyDown(int Key, Qt::KeyboardModifiers)
{
    if (Key == Qt::Key_F4)
        FKeepProportionCheck->click();
}

void TResizeForm::keyPressEvent(QKeyEvent* Event)
{
    FormKeyDown(Event->key(), Event->modifiers());
    QDialog::keyPressEvent(Event);
}

Controls::TNumericEdit& TResizeForm::EditOf(TResizeEntry Entry) const
{
    switch (Entry) {
    case TResizeEntry::Width:
        return *FWidthEdit;
    case TResizeEntry::Height:
        return *FHeightEdit;
    case TResizeEntry::HorzReuse:
        return *FHorzReuseEdit;
    case TResizeEntry::VertReuse:
        break;
    }
    return *FVertReuseEdit;
}

void TResizeForm::ResizeButtonClick()
{
    const TResizeCheck check = CheckResizeEntries(FWidthEdit->text(), FHeightEdit->text(), FHorzReuseEdit->text(),
                                                  FVertReuseEdit->text(), FOriginalWidth, FOriginalHeight);
    if (check.BadEntry) {
        FBalloon = &ShowBalloonTip(EditOf(*check.BadEntry), TBalloonIcon::Error,
                                   QString::fromUtf8(InvalidValueTitle), check.Message);
        return;
    }
    FNewWidth = check.NewWidth;
    FNewHeight = check.NewHeight;
    FHorzReuse = check.HorzReuse;
    FVertReuse = check.VertReuse;
    accept();
}

void TResizeForm::CancelButtonClick()
{
    reject();
}

} // namespace Corvanith::Forms
