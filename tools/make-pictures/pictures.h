// The list of pictures to write: each a name under uipics, a size in logical pixels and a
// drawing in those pixels. The writer draws each once at 1x and once at 2x.
#pragma once

#include <QPainter>
#include <QSize>
#include <QString>
#include <functional>
#include <vector>

namespace pics {

struct Picture {
    QString name;  // relative to uipics, "keys/key-s4.png"
    QSize size;
    std::function<void(QPainter&)> draw;
    bool twice = true;  // also "name@2x.ext", drawn at twice the scale
};

using PictureList = std::vector<Picture>;

void AddKeyPictures(PictureList& list);
void AddKeyboardPictures(PictureList& list);
void AddBackgroundPictures(PictureList& list);
void AddIconPictures(PictureList& list);

}  // namespace pics
