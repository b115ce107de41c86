#ifndef FILEHASH_WIDGETS_HIDPI_H
#define FILEHASH_WIDGETS_HIDPI_H

#include <QString>
#include <QtGlobal>

// The file to load for an image at a device pixel ratio: "name@2x.png" beside "name.png" when
// the ratio is above 1 and that file exists, else the file itself. *ratio gets the chosen file's
// pixel ratio (2 or 1).
QString imageForRatio(const QString &file, qreal deviceRatio, qreal *ratio);

// The highest pixel ratio among the screens, 1 without an application.
qreal screenPixelRatio();

#endif
