#pragma once

#include "PolicyNode.hpp"
#include "PolicyXml.hpp"

#include <quorrel/DataModel.hpp>

#include <boost/make_shared.hpp>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace tav {

// One child of a record in the policy file: a value written and read as text, or a list element
// handed over whole. A record's fields, listed once, give both its write order and its reader.
template <class T> struct PolicyField {
    const XMLCh* name;
    std::function<std::string(const T&)> write;
    std::function<void(T&, const std::string&)> read;
    std::function<void(const T&, PolicyNode&)> writeList;
    std::function<Ret(T&, const PolicyNode&)> readList;
    // Written only when its value is not 0: an element the file gained later, which a file that never
    // sets it must not gain on a save.
    bool onlyWhenSet = false;
};

template <class T> using PolicyFields = std::vector<PolicyField<T>>;

template <class T>
PolicyField<T> ValueField(const XMLCh* name, std::function<std::string(const T&)> write,
                          std::function<void(T&, const std::string&)> read) {
    return {name, std::move(write), std::move(read), nullptr, nullptr};
}

template <class T>
PolicyField<T> TextField(const XMLCh* name, const std::string& (T::*get)() const,
                         void (T::*set)(const std::string&)) {
    return {name, [get](const T& entity) { return (entity.*get)(); },
            [set](T& entity, const std::string& text) { (entity.*set)(text); }, nullptr, nullptr};
}

// The accessors may be those of a base class B of the entity: the entity is cast to B before they are
// called, rather than the member pointers converted, which a base at an offset would not survive.
template <class B, class T = B>
PolicyField<T> BoolField(const XMLCh* name, bool (B::*get)() const, void (B::*set)(bool)) {
    return {name,
            [get](const T& entity) { return PolicyXml::FromBool((static_cast<const B&>(entity).*get)()); },
            [set](T& entity, const std::string& text) {
                (static_cast<B&>(entity).*set)(PolicyXml::ToBool(text));
            },
            nullptr, nullptr};
}

// Integers of up to 32 bits, and enumerations, as text in the given radix. Wider values keep
// their low 32 bits and are read back as a signed 32-bit value.
template <class T, class I>
PolicyField<T> IntField(const XMLCh* name, I (T::*get)() const, void (T::*set)(I), int radix = 10) {
    return {
        name,
        [get, radix](const T& entity) { return ToString(static_cast<std::int32_t>((entity.*get)()), radix); },
        [set, radix](T& entity, const std::string& text) {
            (entity.*set)(static_cast<I>(ToInt(text, radix)));
        },
        nullptr, nullptr};
}

// Seconds of the calendar, as text in radix 10; blank or unreadable text gives 0.
template <class T>
PolicyField<T> TimeField(const XMLCh* name, std::int64_t (T::*get)() const, void (T::*set)(std::int64_t)) {
    return {
        name, [get](const T& entity) { return std::to_string((entity.*get)()); },
        [set](T& entity, const std::string& text) { (entity.*set)(std::strtoll(text.c_str(), nullptr, 10)); },
        nullptr, nullptr};
}

// The field, written only when its value is not 0.
template <class T> PolicyField<T> WhenSet(PolicyField<T> field) {
    field.onlyWhenSet = true;
    return field;
}

template <class T>
PolicyField<T> ListField(const XMLCh* name, std::function<Ret(T&, const PolicyNode&)> read,
                         std::function<void(const T&, PolicyNode&)> write) {
    return {name, nullptr, nullptr, std::move(write), std::move(read)};
}

// Reads the record's children into the entity: unknown children are ignored, a missing one leaves
// the field as it was, a repeated one overwrites the earlier value. A failed list ends the walk.
template <class T> Ret ReadFields(T& entity, const PolicyNode& record, const PolicyFields<T>& fields) {
    for (xercesc::DOMElement* child = record.Element()->getFirstElementChild(); child;
         child = child->getNextElementSibling())
        for (const PolicyField<T>& field : fields) {
            if (!PolicyXml::Is(child, field.name))
                continue;
            if (field.readList) {
                const Ret read = field.readList(entity, PolicyNode(child));
                if (!read.IsOK())
                    return read;
            } else {
                field.read(entity, PolicyXml::Text(child));
            }
            break;
        }
    return Ret(Ret::OK, "");
}

// Reads the record, then validates the entity.
template <class T> Ret LoadRecord(T& entity, const PolicyNode& record, const PolicyFields<T>& fields) {
    const Ret read = ReadFields(entity, record, fields);
    return read.IsOK() ? entity.Validate(false) : read;
}

template <class T> void WriteFields(const T& entity, PolicyNode& record, const PolicyFields<T>& fields) {
    for (const PolicyField<T>& field : fields)
        if (field.writeList) {
            PolicyNode list(PolicyXml::Append(record.Element(), field.name));
            field.writeList(entity, list);
        } else {
            const std::string text = field.write(entity);
            if (!field.onlyWhenSet || text != "0")
                PolicyXml::AppendValue(record.Element(), field.name, text);
        }
}

// Reads every child record called `name` of a list or section: make() gives a fresh entity, its
// Load reads and validates it, add() stores it or reports a duplicate. The first failure ends the
// walk; what was stored before it stays.
template <class Make, class Add>
Ret ReadRecords(const PolicyNode& list, const XMLCh* name, Make make, Add add) {
    for (xercesc::DOMElement* child = list.Element()->getFirstElementChild(); child;
         child = child->getNextElementSibling()) {
        if (!PolicyXml::Is(child, name))
            continue;
        auto entity = make();
        const Ret loaded = entity->Load(PolicyNode(child));
        if (!loaded.IsOK())
            return loaded;
        const Ret added = add(std::move(entity));
        if (!added.IsOK())
            return added;
    }
    return Ret(Ret::OK, "");
}

// Reads records into a keyed set of shared entities; a taken key fails with message + key.
template <class Set, class Make>
Ret ReadSet(const PolicyNode& list, const XMLCh* name, Set& set, Make make, const std::string& message) {
    return ReadRecords(list, name, make, [&set, &message](const typename Set::value_type& entity) {
        return set.insert(entity).second ? Ret(Ret::OK, "")
                                         : Ret(Ret::ERR, message + DataModel::SortKey(*entity));
    });
}

// Adds an entity the map then owns, keyed by its ID; a taken ID fails with message + ID.
template <class Map, class Entity>
Ret AddOwned(Map& map, std::unique_ptr<Entity> entity, const std::string& message) {
    const std::string id = entity->GetID();
    if (!map.emplace(id, entity.get()).second)
        return Ret(Ret::ERR, message + id);
    entity.release();
    return Ret(Ret::OK, "");
}

// Appends a record called `name` to the parent and writes the entity into it.
template <class Entity> void AppendRecord(PolicyNode& parent, const XMLCh* name, const Entity& entity) {
    PolicyNode record(PolicyXml::Append(parent.Element(), name));
    entity.Save(record);
}

// Appends one record called `name` per entity of the range to the list.
template <class Range> void WriteRecords(PolicyNode& list, const XMLCh* name, const Range& range) {
    for (const auto& entity : range)
        AppendRecord(list, name, *entity);
}

// A list element holding the records of one keyed set of the entity. Entries read from the file
// are added to the set; an entry whose key is taken fails the load with duplicate + key.
// The accessors may be those of a base class B of the entity, as for BoolField.
template <class B, class Set, class T = B>
PolicyField<T> SetField(const XMLCh* list, const XMLCh* record, const Set& (B::*get)() const,
                        void (B::*set)(const Set&), const std::string& duplicate) {
    typedef typename Set::value_type::element_type Entity;
    return ListField<T>(
        list,
        [=](T& owner, const PolicyNode& element) {
            Set entries = (static_cast<const B&>(owner).*get)();
            const Ret read = ReadSet(
                element, record, entries, [&owner] { return boost::make_shared<Entity>(owner.GetOwner()); },
                duplicate);
            (static_cast<B&>(owner).*set)(entries);
            return read;
        },
        [=](const T& owner, PolicyNode& element) {
            WriteRecords(element, record, (static_cast<const B&>(owner).*get)());
        });
}

} // namespace tav
