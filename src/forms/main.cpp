// Program entry. Command-line arguments are not read: a file named there is
// not opened.
#include "forms/mainform.h"
#include "forms/startup.h"
#include "graphics/imagingcore.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Corvanith::Forms::StartProgram();
    const Corvanith::Graphics::TCorvImagingCore imagingCore;
    // The window outlives the saving of the data files: its destruction
    // touches neither.
    auto window = std::make_unique<Corvanith::Forms::TMainForm>();
    window->show();
    const int result = app.exec();
    Corvanith::Forms::EndProgram();
    window.reset();
    return result;
}
