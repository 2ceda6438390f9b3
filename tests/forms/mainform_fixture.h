#pragma once
// The main window shown and active in a started program, driven as a user
// drives it: by its keys, menu items and toolbar buttons, on pictures the
// tests write first.
#include "program_fixture.h"

#include "document/document.h"
#include "document/layers.h"
#include "forms/mainform.h"
#include "forms/openurl.h"
#include "graphics/surface.h"

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace Corvanith;
using Document::TCorvDocumentSource;
using Forms::TMainForm;

// A picture whose every pixel differs from its neighbours, so seams have
// something to choose between.
inline QImage TestPicture(int Width, int Height)
{
    QImage image(Width, Height, QImage::Format_ARGB32);
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x)
            image.setPixel(x, y, qRgba((x * 37 + y * 11) & 0xFF, (x * 5 + y * 53) & 0xFF, (x * y) & 0xFF, 255));
    }
    return image;
}

class MainFormTest : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        FForm = std::make_unique<TMainForm>();
        FForm->show();
        QApplication::setActiveWindow(FForm.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    }
    void TearDown() override
    {
        FForm.reset();
        ProgramTest::TearDown();
    }

    TMainForm& Form() { return *FForm; }

    // A new main window in place of the current one, as at the next start.
    void RecreateForm()
    {
        FForm.reset();
        FForm = std::make_unique<TMainForm>();
        FForm->show();
        QApplication::setActiveWindow(FForm.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
    }

    QString WritePicture(const QString& Name, int Width, int Height)
    {
        const QString path = TempPath() + "/" + Name;
        EXPECT_TRUE(TestPicture(Width, Height).save(path));
        return path;
    }

    void Open(const QString& FileName)
    {
        TCorvDocumentSource source = Document::MakeFileSource(FileName);
        Form().OpenSource(source, nullptr);
        Form().UpdateControls();
    }

    QString SizeText() const { return FForm->StatusPanel1->text(); }

    void Key(int KeyCode, Qt::KeyboardModifiers Modifiers = Qt::NoModifier)
    {
        QTest::keyClick(FForm.get(), Qt::Key(KeyCode), Modifiers);
    }

    // Answers the next modal dialog that opens with Answer.
    static void WhenDialogOpens(std::function<void(QWidget&)> Answer)
    {
        QTimer::singleShot(0, [Answer] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            Answer(*dialog);
        });
    }

    // Opens Url through the open-URL dialog, as its Open button does.
    void OpenUrl(const QString& Url)
    {
        WhenDialogOpens([Url](QWidget& dialog) {
            auto& form = static_cast<Forms::TOpenUrlForm&>(dialog);
            form.UrlComboBox().setEditText(Url);
            form.OpenButton().click();
        });
        Form().OpenUrlToolbarItem->trigger();
    }

private:
    std::unique_ptr<TMainForm> FForm;
};
