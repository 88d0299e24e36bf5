#pragma once

#include <quorrel/Ret.hpp>

#include <xercesc/dom/DOM.hpp>

#include <string>

namespace tav {

// Values of the policy file. Every value is the text of an element; names are matched ignoring
// case and written in lower case. Text is transcoded with windows-1251, the charset of the
// administration pages, so every byte a page can send survives a save and a load.
class PolicyXml {
public:
    // Prepares the XML library and the transcoder; safe to call more than once.
    static void Init();

    static bool Is(const xercesc::DOMElement* element, const XMLCh* name);
    // The element's whole text content, transcoded and trimmed.
    static std::string Text(const xercesc::DOMElement* element);
    static xercesc::DOMElement* Append(xercesc::DOMElement* parent, const XMLCh* name);
    static void AppendValue(xercesc::DOMElement* parent, const XMLCh* name, const std::string& value);
    // The XML library's message as text.
    static std::string Message(const XMLCh* message);

    static bool ToBool(const std::string& text);
    static std::string FromBool(bool value);
};

} // namespace tav
