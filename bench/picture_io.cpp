#include "picture_io.h"

#include "graphics/errors.h"

#include <QImage>
#include <QString>

#include <cstring>

namespace CorvanithBench {

using Corvanith::Graphics::TCorvSurface;

std::unique_ptr<TCorvSurface> LoadPicture(const std::string& Path)
{
    QImage image(QString::fromStdString(Path));
    if (image.isNull())
        throw Corvanith::EStreamError("Cannot read the picture " + Path);
    image = image.convertToFormat(QImage::Format_ARGB32);
    auto picture = TCorvSurface::Create(image.width(), image.height());
    for (int32_t y = 0; y < picture->Height(); ++y)
        std::memcpy(picture->GetPixelPtr(0, y), image.constScanLine(y), size_t(picture->Width()) * 4);
    return picture;
}

void SavePicture(const TCorvSurface& Picture, const std::string& Path)
{
    QImage image(Picture.Width(), Picture.Height(), QImage::Format_ARGB32);
    for (int32_t y = 0; y < Picture.Height(); ++y)
        std::memcpy(image.scanLine(y), Picture.GetPixelPtr(0, y), size_t(Picture.Width()) * 4);
    if (!image.save(QString::fromStdString(Path), "PNG"))
        throw Corvanith::EStreamError("Cannot write the picture " + Path);
}

} // namespace CorvanithBench
