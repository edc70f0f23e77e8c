#pragma once

#include <QWidget>
#include <map>
#include <string>
#include <string_view>

#include "models/model.h"

namespace panel {

// The controls of one window by name ("Command17", "Frame8", ...).
class ControlMap {
public:
    QWidget* find(std::string_view name) const;
    template <class T>
    T* get(std::string_view name) const {
        return qobject_cast<T*>(find(name));
    }
    void add(std::string_view name, QWidget* widget);
    const std::map<std::string, QWidget*, std::less<>>& all() const { return byName_; }

private:
    std::map<std::string, QWidget*, std::less<>> byName_;
};

// Creates every control of the model's layout on `form` (which owns them), with geometry,
// colours, fonts, captions, start visibility and tab order as the layout gives them.
ControlMap buildPanel(QWidget* form, const models::Model& model);

}  // namespace panel
