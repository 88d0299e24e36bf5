#include <quorrel/Secret.hpp>
#include <quorrel/Text.hpp>

#include <sodium.h>

#include <stdexcept>

namespace tav {

namespace {

void Ready() {
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw std::runtime_error("The cryptography library cannot start");
}

bool IsHash(const std::string& text) {
    return text.rfind("$argon2", 0) == 0;
}

} // namespace

Secret Secret::Of(const std::string& text) {
    Secret secret;
    if (IsBlank(text))
        return secret;
    Ready();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, text.data(), text.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::bad_alloc(); // the one way it fails: the memory it works in cannot be had
    secret.m_hash = hash;
    return secret;
}

Secret Secret::FromStored(const std::string& stored, std::string (*unscramble)(const std::string&)) {
    if (!IsHash(stored))
        return Of(unscramble(stored));
    Secret secret;
    secret.m_hash = stored;
    return secret;
}

bool Secret::Matches(const std::string& text) const {
    if (IsEmpty())
        return text.empty();
    Ready();
    return crypto_pwhash_str_verify(m_hash.c_str(), text.data(), text.size()) == 0;
}

} // namespace tav
