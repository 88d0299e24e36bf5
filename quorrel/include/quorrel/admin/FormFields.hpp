#pragma once

// The fields of one administration request, decoded from its form body.
//
// Each name maps to its values in the order they came. Names are atoms: the names the pages use share the
// atoms of one table, filled once; any other name gets an atom of its own that lives as long as these
// fields, so that no request can grow the shared table. Not synchronised: one request, one thread.

#include <quorrel/export.hpp>
#include <tav/atom.hpp>

#include <ace/Hash_Map_Manager_T.h>
#include <ace/Null_Mutex.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tav::http::admin {

class QUORREL_EXPORT FormFields {
public:
    FormFields();
    FormFields(const FormFields&) = delete;
    FormFields& operator=(const FormFields&) = delete;
    ~FormFields();

    // Decodes a form body: name=value pairs separated by "&", "+" for a space and %XX escapes in the
    // value; a pair whose value is empty adds nothing.
    void Decode(const std::string& body);

    // The first value of the name, or an empty text.
    const std::string& Get(const std::string& name) const;
    // Every value of the name, in arrival order.
    const std::vector<std::string>& GetAll(const std::string& name) const;
    // Replaces every value of the name by one.
    void Set(const std::string& name, const std::string& value);
    // Adds a value after the name's others.
    void Add(const std::string& name, const std::string& value);

private:
    // The atom of a name: the shared one of a known name, else this request's own. Throws atom_failure.
    tav::atom Intern(const std::string& name);
    // The atom of a name if there is one yet, else the null atom.
    tav::atom Find(const std::string& name) const;

    using PrivateNames = ACE_Hash_Map_Manager_Ex<std::string, tav::atom, std::hash<std::string>,
                                                 ACE_Equal_To<std::string>, ACE_Null_Mutex>;
    PrivateNames m_privateNames;
    std::map<tav::atom, std::vector<std::string>> m_fields;
};

} // namespace tav::http::admin
