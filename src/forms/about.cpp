#include "forms/about.h"

#include "forms/forms.h"
#include "io/settings.h"

#include <QDesktopServices>
#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace Corvanith::Forms {

TLinkLabel::TLinkLabel(const QString& Caption, QWidget* Parent) : QLabel(Parent), FCaption(Caption)
{
    static const QString open = QStringLiteral("<link>");
    static const QString close = QStringLiteral("</link>");
    qsizetype from = 0;
    while (from < Caption.size()) {
        const qsizetype start = Caption.indexOf(open, from);
        const qsizetype end = start < 0 ? -1 : Caption.indexOf(close, start + open.size());
        if (end < 0) {
            FParts.push_back({Caption.mid(from), false});
            break;
        }
        if (start > from)
            FParts.push_back({Caption.mid(from, start - from), false});
        const QString link = Caption.mid(start + open.size(), end - start - open.size());
        FParts.push_back({link, true});
        FLinks.push_back(link);
        from = end + close.size();
    }
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setOpenExternalLinks(false);
    setWordWrap(true);
    setMargin(0);
    setAutoFillBackground(true);
    connect(this, &QLabel::linkHovered, this, [this](const QString& Address) {
        FHotLink = Address.isEmpty() ? -1 : Address.toInt();
        Render();
    });
    connect(this, &QLabel::linkActivated, this, &TLinkLabel::LinkActivated);
    Render();
}

void TLinkLabel::Render()
{
    QString html;
    int number = 0;
    for (const TPart& part : FParts) {
        if (!part.IsLink) {
            html += part.Text.toHtmlEscaped();
            continue;
        }
        const QColor color = palette().color(number == FHotLink ? QPalette::Highlight : QPalette::Link);
        html += QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:underline;\">%3</a>")
                    .arg(number)
                    .arg(color.name(), part.Text.toHtmlEscaped());
        ++number;
    }
    setText(html);
}

void TLinkLabel::LinkActivated(const QString& Address)
{
    bool ok = false;
    const int number = Address.toInt(&ok);
    if (ok && number >= 0 && size_t(number) < FLinks.size() && OnLinkClick)
        OnLinkClick(number, FLinks[size_t(number)]);
}

void TLinkLabel::changeEvent(QEvent* Event)
{
    QLabel::changeEvent(Event);
    if (Event->type() == QEvent::PaletteChange)
        Render();
}

TAboutForm::TAboutForm(QWidget* AOwner) : QDialog(AOwner)
{
    FNameText = new QLabel(QStringLiteral("Corvanith 0.4"), this);
    FCopyrightText = new QLabel(QString::fromUtf8("Copyright \u00A9 2026 the Corvanith Vistrel developers"), this);
    FLinksLabel = new TLinkLabel(
        QStringLiteral("Some icons are taken from or based on <link>Silk</link> and <link>Aesthetica</link> icons."),
        this);
    FLinksLabel->OnLinkClick = [this](int LinkNumber, const QString& LinkText) {
        LinksLabelLinkClick(LinkNumber, LinkText);
    };
    FOkButton = new QPushButton(QStringLiteral("OK"), this);
    FOkButton->setDefault(true);
    FOkButton->setMinimumSize(75, 23);
    connect(FOkButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(FOkButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 8, 8);
    layout->setSpacing(0);
    layout->addWidget(FNameText);
    layout->addWidget(FCopyrightText);
    layout->addSpacing(13);
    layout->addWidget(FLinksLabel);
    layout->addStretch();
    layout->addSpacing(8);
    layout->addLayout(buttons);
    FormCreate();
}

void TAboutForm::FormCreate()
{
    setFont(MessageFont());
    setWindowTitle(QStringLiteral("About ") + QString::fromUtf8(Settings::ApplicationName));
    QFont bold = FNameText->font();
    bold.setBold(true);
    FNameText->setFont(bold);
    // A fixed border at the designed size, or larger where the font needs it;
    // the links may wrap, and the box grows to hold their lines.
    const int width = std::max(358, sizeHint().width());
    setFixedSize(width, std::max(138, layout()->totalHeightForWidth(width)));
}

void TAboutForm::LinksLabelLinkClick(int LinkNumber, const QString&)
{
    if (LinkNumber >= 0 && LinkNumber < int(std::size(AboutLinkUrls)))
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(AboutLinkUrls[LinkNumber])));
}

} // namespace Corvanith::Forms
