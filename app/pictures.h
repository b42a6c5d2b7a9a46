// The installer's pictures, drawn in code: the banner across the top of both windows, the logo
// beside the texts and the small contact picture. Same size in, same pixels out.
#pragma once

#include <QPixmap>
#include <QSize>

namespace zq {

QPixmap DrawBanner(QSize size);
QPixmap DrawLogo(int side);
QPixmap DrawContactPicture(int side);

}  // namespace zq
