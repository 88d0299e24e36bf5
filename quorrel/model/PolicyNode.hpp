#pragma once

#include <quorrel/ModelTypes.hpp>

#include <xercesc/dom/DOMElement.hpp>

namespace tav {

// An element of the policy file, which an entity reads itself from or writes itself into. The
// model's headers name only this class, so their users never see the XML library. A const node gives
// its element for reading only; new children are made in the element's own document.
class PolicyNode {
public:
    explicit PolicyNode(xercesc::DOMElement* element) : m_element(element) {}

    const xercesc::DOMElement* Element() const { return m_element; }
    xercesc::DOMElement* Element() { return m_element; }

private:
    xercesc::DOMElement* m_element;
};

} // namespace tav
