#include "platform/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>

namespace platform {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  char_width_ = metrics.averageCharWidth();
  char_height_ = metrics.height();
}

QFont DialogFont(int pointSize) {
  QFont font = QApplication::font();
  font.setPointSize(pointSize);
  return font;
}

}  // namespace platform
