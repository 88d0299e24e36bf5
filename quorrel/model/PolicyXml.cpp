#include "PolicyXml.hpp"

#include <quorrel/Text.hpp>

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>

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
    // instead of failing the whole load.
    const XMLSize_t length = XMLString::stringLen(text);
    std::string result;
    XMLByte buffer[1024];
    for (XMLSize_t done = 0; done < length;) {
        XMLSize_t eaten = 0;
        const XMLSize_t made = Transcoder().transcodeTo(text + done, length - done, buffer, sizeof buffer,
                                                        eaten, XMLTranscoder::UnRep_RepChar);
        result.append(reinterpret_cast<const char*>(buffer), made);
        if (eaten == 0)
            break;
        done += eaten;
    }
    // The transcoder writes SUB (0x1a) for such a character, a byte XML cannot hold and that parsed text
    // never contains otherwise.
    std::replace(result.begin(), result.end(), '\x1a', '?');
    return TrimBlanks(result);
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
