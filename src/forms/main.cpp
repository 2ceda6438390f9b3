// Program entry: until the main window is built, an empty window titled with
// the application's name.
#include "graphics/imagingcore.h"
#include "io/settings.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Corvanith::Settings::InitializeSettings();
    const Corvanith::Graphics::TCorvImagingCore imagingCore;
    QMainWindow window;
    window.setWindowTitle(QString::fromUtf8(Corvanith::Settings::ApplicationName));
    window.resize(800, 600);
    window.show();
    return app.exec();
}
