#pragma once
// The about box: the product's name and version, a copyright line, and links
// to the two icon sets whose icons the program shows.
#include <QDialog>
#include <QLabel>

#include <functional>
#include <vector>

class QPushButton;

namespace Corvanith::Forms {

// The pages of the "Silk" icon set (link 0) and the "Aesthetica" icon set
// (link 1).
inline constexpr const char* AboutLinkUrls[] = {
    "http://www.famfamfam.com/lab/icons/silk/",
    "http://dryicons.com/free-icons/preview/aesthetica/",
};

// A label whose caption marks links with <link> and </link>. Links show
// underlined in the palette's link colour, and in its highlight colour while
// the mouse is over them; a click reports the link's number, counted from 0
// in caption order, and its text. Each link's address in the label's rich
// text is its number.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(const QString& Caption, QWidget* Parent = nullptr);

    const QString& Caption() const { return FCaption; }
    // The link under the mouse, or -1.
    int HotLink() const { return FHotLink; }

    std::function<void(int LinkNumber, const QString& LinkText)> OnLinkClick;

protected:
    void changeEvent(QEvent* Event) override;

private:
    struct TPart {
        QString Text;
        bool IsLink = false;
    };

    void Render();
    void LinkActivated(const QString& Address);

    const QString FCaption;
    std::vector<TPart> FParts;
    std::vector<QString> FLinks;
    int FHotLink = -1;
};

class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* AOwner);

    QLabel& NameText() const { return *FNameText; }
    QLabel& CopyrightText() const { return *FCopyrightText; }
    TLinkLabel& LinksLabel() const { return *FLinksLabel; }
    QPushButton& OkButton() const { return *FOkButton; }

    // Opens the link's page in the user's web browser; a page that cannot
    // be opened is let go without a word.
    void LinksLabelLinkClick(int LinkNumber, const QString& LinkText);

private:
    void FormCreate();

    // Owned by the dialog through Qt's parent links.
    QLabel* FNameText = nullptr;
    QLabel* FCopyrightText = nullptr;
    TLinkLabel* FLinksLabel = nullptr;
    QPushButton* FOkButton = nullptr;
};

} // namespace Corvanith::Forms
