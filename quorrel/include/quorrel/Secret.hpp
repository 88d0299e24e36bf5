#pragma once

#include <quorrel/export.hpp>

#include <string>

namespace tav {

// A password or a security answer as the policy keeps it: a salted, slow hash (libsodium's
// crypto_pwhash, Argon2id), so that neither the file nor the model can give the text back. An empty
// secret is one that was never set.
class QUORREL_EXPORT Secret {
public:
    Secret() = default;
    // The hash of the text; blank text gives the empty secret.
    static Secret Of(const std::string& text);
    // The secret as the policy file holds it: a hash as it stands, or the text of an older file, which is
    // hashed now. `unscramble` turns that older text into the secret's own.
    static Secret FromStored(const std::string& stored, std::string (*unscramble)(const std::string&));

    bool IsEmpty() const { return m_hash.empty(); }
    // Whether the text is the one hashed; the empty secret matches only empty text.
    bool Matches(const std::string& text) const;
    // What the policy file holds.
    const std::string& Stored() const { return m_hash; }

private:
    std::string m_hash;
};

} // namespace tav
