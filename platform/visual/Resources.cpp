#include "platform/visual/Resources.h"

#include <QFile>
#include <QFont>
#include <QString>
#include <map>
#include <mutex>

static void InitImageResources() {
  // The image resources live in a static library: nothing would pull their
  // registration object into the program without this call.
  Q_INIT_RESOURCE(zolt_images);
}

namespace {

struct TemplateTable {
  std::mutex mutex;
  std::map<UINT, DialogTemplate> templates;
};

TemplateTable& Templates() {
  static TemplateTable table;
  return table;
}

}  // namespace

int DialogUnitsToPixels(int units) { return units * 3 / 2; }

QRect DialogRectToPixels(int x, int y, int width, int height) {
  const int left = DialogUnitsToPixels(x);
  const int top = DialogUnitsToPixels(y);
  return QRect(left, top, DialogUnitsToPixels(x + width) - left, DialogUnitsToPixels(y + height) - top);
}

void RegisterDialogTemplate(UINT templateId, DialogTemplate tmpl) {
  auto& table = Templates();
  std::lock_guard lock(table.mutex);
  table.templates[templateId] = std::move(tmpl);
}

const DialogTemplate* FindDialogTemplate(UINT templateId) {
  auto& table = Templates();
  std::lock_guard lock(table.mutex);
  auto it = table.templates.find(templateId);
  // Entries are never removed, only replaced before any dialog runs.
  return it == table.templates.end() ? nullptr : &it->second;
}

QPixmap LoadImageResource(UINT id) {
  static std::once_flag once;
  std::call_once(once, InitImageResources);
  return QPixmap(QStringLiteral(":/zolt/%1.png").arg(id));
}

QFont TemplateFont(const std::string& fontName, int points) {
  static std::once_flag once;
  std::call_once(once, [] {
    const QStringList cjk{QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")};
    QFont::insertSubstitutions(QString::fromUtf8("宋体"), cjk);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), cjk);
  });
  QFont font(QString::fromStdString(fontName));
  // Points on a 96-dpi screen, so the layout in dialog units fits the text
  // whatever the screen reports.
  font.setPixelSize(points * 4 / 3);
  return font;
}
