#include "stylesheet.h"

#include <QLatin1String>
#include <QStringList>

namespace {

struct StyleRule
{
    const char *selector;
    const char *declarations;
};

// Order matters: later rules (":disabled", "#secondary") refine the general button rule.
constexpr StyleRule kRules[] = {
    {"QWidget#root, QWidget#canvas",
     "background: #f4f7f8; color: #14202b; font-family: 'Segoe UI'; font-size: 14px;"},
    {"QLabel#brand", "font-size: 20px; font-weight: 700; color: #0f6f8c;"},
    {"QLabel#product", "color: #4b5b68; padding-left: 6px;"},
    {"QLabel#title", "font-size: 22px; font-weight: 650;"},
    {"QLabel#section", "font-size: 16px; font-weight: 650;"},
    {"QLabel#muted", "color: #4b5b68;"},
    {"QLabel#error", "color: #9f1239;"},
    {"QLabel#chip",
     "background: #e7f3f6; color: #0f6f8c; border-radius: 10px; padding: 6px 10px;"},
    {"QWidget#card", "background: white; border: 1px solid #e1e7ec; border-radius: 12px;"},
    {"QLineEdit, QSpinBox",
     "background: white; border: 1px solid #c9d3dc; border-radius: 8px; padding: 0 12px; "
     "min-height: 44px;"},
    {"QComboBox",
     "background: white; border: 1px solid #c9d3dc; border-radius: 8px; padding: 0 12px; "
     "min-height: 44px;"},
    {"QComboBox::drop-down", "border: none; width: 28px;"},
    {"QComboBox QAbstractItemView",
     "background: white; border: 1px solid #c9d3dc; selection-background-color: #e7f3f6; "
     "selection-color: #14202b; padding: 4px;"},
    {"QPlainTextEdit",
     "background: white; border: 1px solid #c9d3dc; border-radius: 8px; padding: 10px; "
     "font-family: Consolas, monospace; font-size: 12px;"},
    {"QPushButton",
     "background: #0f6f8c; color: white; border: none; border-radius: 8px; padding: 0 16px; "
     "min-height: 40px;"},
    {"QPushButton:disabled", "background: #b7c4ce; color: white;"},
    {"QPushButton#secondary", "background: white; color: #0f6f8c; border: 1px solid #0f6f8c;"},
    {"QPushButton#secondary:disabled",
     "background: #f4f7f8; color: #b7c4ce; border-color: #d5dee5;"},
    {"QScrollArea#pageScroll", "background: #f4f7f8; border: none;"},
    {"QScrollBar:vertical",
     "background: #e7eef2; width: 12px; margin: 2px; border-radius: 6px;"},
    {"QScrollBar::handle:vertical", "background: #8aa0ad; min-height: 36px; border-radius: 5px;"},
    {"QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical", "height: 0;"},
    {"QScrollBar:horizontal",
     "background: #e7eef2; height: 12px; margin: 2px; border-radius: 6px;"},
    {"QScrollBar::handle:horizontal", "background: #8aa0ad; min-width: 36px; border-radius: 5px;"},
    {"QScrollBar::add-line:horizontal, QScrollBar::sub-line:horizontal", "width: 0;"},
    {"QRadioButton", "spacing: 8px; min-height: 28px;"},
};

} // namespace

QString windowStyleSheet()
{
    QString sheet;
    for (const StyleRule &rule : kRules) {
        sheet += QLatin1String(rule.selector) + QLatin1String(" { ")
                 + QLatin1String(rule.declarations) + QLatin1String(" }");
    }
    return sheet;
}

QString focusStyleSheet()
{
    // The border takes the place of the padding's edge, so a focused button keeps its size.
    return QStringLiteral(
        "QPushButton:focus { border: 3px solid #f2a900; padding: 0 13px; } "
        "QPushButton#secondary:focus { border: 3px solid #f2a900; padding: 0 13px; } "
        "QLineEdit:focus, QSpinBox:focus, QComboBox:focus { border: 2px solid #0f6f8c; "
        "padding: 0 11px; } "
        "QRadioButton:focus { background: #e7f3f6; border-radius: 4px; }");
}
