#pragma once

#include <memory>

namespace tav {

// A value that copies of its holder share: it is never changed, only replaced, so copying the holder, as
// a save's copy of the policy does under the model lock, costs a pointer rather than the whole value.
template <class T> class SharedValue {
public:
    SharedValue() : m_value(std::make_shared<const T>()) {}

    const T& Get() const { return *m_value; }
    void Set(const T& value) { m_value = std::make_shared<const T>(value); }

private:
    std::shared_ptr<const T> m_value;
};

} // namespace tav
