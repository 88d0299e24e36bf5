#include <tav/ref_counted.hpp>

#include <boost/intrusive_ptr.hpp>
#include <gtest/gtest.h>

namespace {

// Counts its destructions in a counter the test owns. It inherits the count along two paths.
class left : public virtual tav::ref_counted {};
class right : public virtual tav::ref_counted {};
class counted : public left, public right {
public:
    explicit counted(int& destroyed) : destroyed_(&destroyed) {}
    counted(const counted&) = default;
    counted& operator=(const counted&) = default;
    ~counted() override { ++*destroyed_; }

private:
    int* destroyed_;
};

TEST(ref_counted, paths_share_one_count_and_copies_have_their_own) {
    int destroyed = 0;
    auto* object = new counted(destroyed);
    boost::intrusive_ptr<left> as_left(object);
    boost::intrusive_ptr<right> as_right(object);
    boost::intrusive_ptr<counted> copy(new counted(*object));
    *object = *copy;
    copy.reset();
    EXPECT_EQ(destroyed, 1);
    as_left.reset();
    EXPECT_EQ(destroyed, 1);
    as_right.reset();
    EXPECT_EQ(destroyed, 2);
}

} // namespace
