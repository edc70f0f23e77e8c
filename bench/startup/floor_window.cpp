// The floor that the programs' start-up is measured against: a plain Qt Widgets window with the
// controls of a model's panel (the same kinds, counts, nesting, places and start visibility),
// made of stock widgets in the default font and style, with no serial port, timers, pictures
// or painting of its own.
//   bench_floor [TR27K|TR52] [--count]
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

#include "models/model.h"
#include "tables/layout.h"

namespace {

int pixels(int twips) {
    return (twips + panel::kTwipsPerPixel / 2) / panel::kTwipsPerPixel;
}

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QWidget* make(panel::Kind kind, std::string_view caption, QWidget* parent) {
    switch (kind) {
        case panel::Kind::Button:
            return new QPushButton(text(caption), parent);
        case panel::Kind::Label:
            return new QLabel(text(caption), parent);
        case panel::Kind::Frame:
            return new QFrame(parent);
        case panel::Kind::Option:
            return new QRadioButton(text(caption), parent);
        case panel::Kind::TextBox:
            return new QLineEdit(parent);
        case panel::Kind::Picture:
            return new QLabel(parent);
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const bool tr52 = argc > 1 && std::strcmp(argv[1], "TR52") == 0;
    const bool count = argc > 1 && std::strcmp(argv[argc - 1], "--count") == 0;
    const models::Model& model = tr52 ? models::kTR52 : models::kTR27K;

    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(text(model.caption));
    std::map<std::string_view, QWidget*> made;
    std::map<panel::Kind, int> kinds;
    for (const panel::ControlRow& row : panel::layoutRows()) {
        const auto placed = panel::place(row.name, model);
        if (!placed) continue;
        QWidget* parent = row.container == "Form1" ? &window : made.at(row.container);
        QWidget* widget = make(row.kind, row.caption, parent);
        widget->setGeometry(pixels(placed->left), pixels(placed->top), pixels(placed->width),
                            pixels(placed->height));
        if (row.hiddenAtStart) widget->hide();
        made.emplace(row.name, widget);
        ++kinds[row.kind];
    }
    if (count) {
        const char* names[] = {"buttons", "labels", "frames", "options", "text boxes", "pictures"};
        for (const auto& [kind, n] : kinds) std::printf("%s %d\n", names[int(kind)], n);
        std::printf("total %zu\n", made.size());
        return 0;
    }
    // The programs' window at start: the client width by the operating area's height.
    window.setFixedSize(pixels(panel::kClientWidth), pixels(5350) - 4);
    window.show();
    return app.exec();
}
