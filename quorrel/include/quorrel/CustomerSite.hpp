#pragma once

#include <quorrel/Base.hpp>
#include <tav/uri.hpp>

namespace tav {

// A site the administrator trusts or blocks, keyed by its flattened URL.
class QUORREL_EXPORT CustomerSite : public Base {
public:
    CustomerSite(DataModel* owner, bool blocked);

    Ret Load(const PolicyNode& record) override;
    void Save(PolicyNode& record) const override;
    Ret Validate(bool skipIdCheck) const override;

    const std::string& GetID() const { return m_id; }
    void SetID(const std::string& id) { m_id = id; }
    const std::string& GetUrlText() const { return m_urlText; }
    const uri& GetUrl() const { return m_url; }
    // Stores the text, parses it and keys the site by the flattened result; the text and the key
    // are stored even when the text does not parse, which the result reports.
    bool SetUrl(const std::string& urlText);
    const std::string& GetKey() const { return m_key; }
    bool GetIsBlocked() const { return m_isBlocked; }
    void SetIsBlocked(bool blocked) { m_isBlocked = blocked; }

private:
    std::string m_id;
    std::string m_urlText;
    uri m_url;
    std::string m_key;
    bool m_isBlocked;
};

inline const std::string& ModelTypes::SortKey(const CustomerSite& site) {
    return site.GetKey();
}

} // namespace tav
