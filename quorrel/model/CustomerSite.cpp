#include <quorrel/DataModel.hpp>

#include "PolicyField.hpp"
#include <stdexcept>

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

namespace {
const PolicyFields<DataModel::CustomerSite>& Fields() {
    using S = DataModel::CustomerSite;
    static const PolicyFields<S> fields{
        TextField(u"id", &S::GetID, &S::SetID),
        ValueField<S>(
            u"uri", [](const S& site) { return site.GetKey(); },
            [](S& site, const std::string& text) {
                if (!site.SetUrl(text))
                    throw std::runtime_error("Can not parse URI: " + text);
            }),
        BoolField(u"isblocked", &S::GetIsBlocked, &S::SetIsBlocked),
    };
    return fields;
}
} // namespace

Ret DataModel::CustomerSite::Load(const PolicyNode& record) {
    return LoadRecord(*this, record, Fields());
}

void DataModel::CustomerSite::Save(PolicyNode& record) const {
    WriteFields(*this, record, Fields());
}

} // namespace tav
