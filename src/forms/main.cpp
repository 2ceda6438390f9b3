// Program entry. Command-line arguments are not read: a file named there is
// not opened.
#include "forms/mainform.h"
#include "forms/startup.h"
#include "graphics/imagingcore.h"
#include "io/utils.h"

#include <memory>

int main(int argc, char** argv)
{
    using namespace Corvanith;
    Forms::TCorvApplication app(argc, argv);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { Utils::SetTerminating(true); });
    try {
        Forms::StartProgram();
        const Graphics::TCorvImagingCore imagingCore;
        // The window outlives the saving of the data files: its destruction
        // touches neither.
        auto window = std::make_unique<Forms::TMainForm>();
        window->show();
        const int result = app.exec();
        Forms::EndProgram();
        window.reset();
        return result;
    } catch (const std::exception& Error) {
        // A data file that cannot be read at the start or written at the end.
        Forms::ShowException(Error);
        return 1;
    }
}
