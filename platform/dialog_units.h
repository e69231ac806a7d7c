// Dialog templates measure in dialog units of the dialog's font; widgets measure in pixels.
#pragma once

#include <QFont>
#include <QRect>

namespace platform {

// Dialog units to pixels with the dialog font, as the dialog manager measures them.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const { return (units * char_width_ + 2) / 4; }
  int Y(int units) const { return (units * char_height_ + 4) / 8; }
  QRect Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
  }

 private:
  int char_width_ = 0;
  int char_height_ = 0;
};

// A template's font: its point size on the application's face (the template's face is not
// installed here).
QFont DialogFont(int pointSize);

}  // namespace platform
