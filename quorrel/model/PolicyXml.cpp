#include "PolicyXml.hpp"

#include <quorrel/Text.hpp>

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace tav {

using namespace xercesc;

namespace {

XMLTranscoder* MakeTranscoder() {
    XMLTransService::Codes code;
    XMLTranscoder* transcoder =
        XMLPlatformUtils::fgTransService->makeNewTranscoderFor("windows-1251", code, 1024);
    if (!transcoder)
        throw std::runtime_error("The XML library has no windows-1251 transcoder");
    return transcoder;
}

XMLTranscoder& Transcoder() {
    static const std::unique_ptr<XMLTranscoder> transcoder(MakeTranscoder());
    return *transcoder;
}

} // namespace

void PolicyXml::Init() {
    static std::once_flag once;
    std::call_once(once, [] {
        XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
        Transcoder();
    });
}

bool PolicyXml::Is(const DOMElement* element, const XMLCh* name) {
    return XMLString::compareIString(element->getTagName(), name) == 0;
}

std::string PolicyXml::Text(const DOMElement* element) {
    const XMLCh* text = element->getTextContent();
    if (!text || !*text)
        return std::string();
    // The file may be in any Unicode encoding: a character the code page has no byte for becomes '?'
    // (a pair of surrogates one '?') instead of failing the whole load.
    std::basic_string<XMLCh> representable;
    for (const XMLCh* c = text; *c; ++c) {
        const bool pair = *c >= 0xd800 && *c < 0xdc00 && c[1] >= 0xdc00 && c[1] < 0xe000;
        representable += !pair && Transcoder().canTranscodeTo(*c) ? *c : u'?';
        c += pair ? 1 : 0;
    }
    const TranscodeToStr bytes(representable.c_str(), representable.size(), &Transcoder());
    return TrimBlanks(std::string(reinterpret_cast<const char*>(bytes.str()), bytes.length()));
}

DOMElement* PolicyXml::Append(DOMElement* parent, const XMLCh* name) {
    DOMElement* child = parent->getOwnerDocument()->createElement(name);
    parent->appendChild(child);
    return child;
}

void PolicyXml::AppendValue(DOMElement* parent, const XMLCh* name, const std::string& value) {
    DOMElement* child = Append(parent, name);
    const TranscodeFromStr text(reinterpret_cast<const XMLByte*>(value.data()), value.size(), &Transcoder());
    child->appendChild(parent->getOwnerDocument()->createTextNode(text.str()));
}

std::string PolicyXml::Message(const XMLCh* message) {
    if (!message)
        return std::string();
    char* text = XMLString::transcode(message);
    std::string result(text);
    XMLString::release(&text);
    return result;
}

bool PolicyXml::ToBool(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10) != 0;
}

std::string PolicyXml::FromBool(bool value) {
    return value ? "1" : "0";
}

} // namespace tav
