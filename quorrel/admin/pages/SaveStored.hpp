#pragma once

// The save of a stored entity that the pages of lists share ("SaveEdit"): the entity found by the form's ID
// takes the form's fields and is saved. Without an entity the emptied form is shown with the result of the
// search; when the save fails, the form with the entity and the reason; else `done` shows what follows the
// save, given its result. The pages pass a new entity with an OK result to save a new one the same way.

#include <quorrel/admin/AdminPluginRet.hpp>

#include <memory>
#include <utility>

namespace tav::http::admin {

// read(Entity&) takes the form's fields, save(const Entity&) stores the entity and gives the result,
// form(const Entity*) shows the form, done(const AdminPluginRet&) shows the page after a save.
template <class Entity, class Read, class Save, class Form, class Done>
AdminPluginRet SaveStored(const AdminPluginRet& found, std::unique_ptr<Entity> entity, Read read, Save save,
                          Form form, Done done) {
    if (!found.IsOK() || entity == nullptr) {
        form(static_cast<const Entity*>(nullptr));
        return found;
    }
    read(*entity);
    const AdminPluginRet saved(save(std::as_const(*entity)));
    if (!saved.IsOK()) {
        form(static_cast<const Entity*>(entity.get()));
        return saved;
    }
    return done(saved);
}

} // namespace tav::http::admin
