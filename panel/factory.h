#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "models/model.h"

namespace panel {

// The controls of one window by name ("Command17", "Frame8", ...).
//
// The controls the window cannot show at start, those lying wholly below its start height and
// their children, are held back: they are built when first needed, by buildHeldBack() or by
// the first lookup of one of them. Lookups are therefore logically const.
class ControlMap {
public:
    // The control named `name`, or nullptr when the window has none of that name; a
    // held-back one is built first.
    QWidget* find(std::string_view name) const;
    template <class T>
    T* get(std::string_view name) const {
        return qobject_cast<T*>(find(name));
    }
    // The control named `name` if it is built; builds nothing.
    QWidget* built(std::string_view name) const;
    void add(std::string_view name, QWidget* widget);

    // Builds the held-back controls, once.
    void buildHeldBack() const;
    bool holdsBack() const { return static_cast<bool>(buildHeldBack_); }
    void holdBack(std::function<void(ControlMap&)> build) { buildHeldBack_ = std::move(build); }

private:
    mutable std::map<std::string, QWidget*, std::less<>> byName_;
    mutable std::function<void(ControlMap&)> buildHeldBack_;
};

// A control reached by its name, built first if it is held back.
template <class T>
class ControlRef {
public:
    ControlRef(const ControlMap& controls, std::string_view name)
        : controls_(controls), name_(name) {}
    T* get() const { return controls_.get<T>(name_); }
    T* operator->() const { return get(); }
    operator T*() const { return get(); }

private:
    const ControlMap& controls_;
    std::string_view name_;
};

// Called for every control made, with its name, once it is placed and in the tab order.
using ControlBuilt = std::function<void(std::string_view name, QWidget* widget)>;

// Creates every control of the model's layout on `form` (which owns them), with geometry,
// colours, fonts, captions, start visibility and tab order as the layout gives them; those the
// window cannot show at start when they are first needed (see ControlMap).
ControlMap buildPanel(QWidget* form, const models::Model& model, ControlBuilt built = {});

}  // namespace panel
