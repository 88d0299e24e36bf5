#include <quorrel/DataModel.hpp>

namespace tav {

DataModel::CustomerSite::CustomerSite(DataModel* owner, bool blocked) : Base(owner), m_isBlocked(blocked) {}

bool DataModel::CustomerSite::SetUrl(const std::string& urlText) {
    m_urlText = urlText;
    const bool parsed = m_url.parse_absolute(urlText.data(), urlText.data() + urlText.size());
    m_key.clear();
    m_url.flatten(m_key, uri::all_bits);
    return parsed;
}

Ret DataModel::CustomerSite::Validate(bool skipIdCheck) const {
    if (!skipIdCheck && m_id.empty())
        return Problem("Empty ID");
    uri parsed;
    if (!parsed.parse_absolute(m_urlText.data(), m_urlText.data() + m_urlText.size()))
        return Problem("Bad Url");
    return Problem(IsBlank(parsed.host()) ? "Empty Host" : "");
}

} // namespace tav
