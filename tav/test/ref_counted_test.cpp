#include <tav/ref_counted.hpp>

#include <boost/intrusive_ptr.hpp>
#include <gtest/gtest.h>

namespace {

// Counts its destructions in a counter the test owns.
class counted : public tav::ref_counted {
public:
    explicit counted(int& destroyed) : destroyed_(&destroyed) {}
    counted(const counted&) = default;
    counted& operator=(const counted&) = default;
    ~counted() override { ++*destroyed_; }

private:
    int* destroyed_;
};

TEST(ref_counted, last_pointer_destroys_the_object) {
    int destroyed = 0;
    boost::intrusive_ptr<counted> first(new counted(destroyed));
    boost::intrusive_ptr<tav::ref_counted> second = first;
    first.reset();
    EXPECT_EQ(destroyed, 0);
    second.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(ref_counted, copy_starts_with_its_own_count) {
    int destroyed = 0;
    boost::intrusive_ptr<counted> original(new counted(destroyed));
    boost::intrusive_ptr<counted> holder = original;
    boost::intrusive_ptr<counted> copy(new counted(*original));
    copy.reset();
    EXPECT_EQ(destroyed, 1);
    *holder = counted(destroyed); // assignment must keep the two pointers' count
    EXPECT_EQ(destroyed, 2);      // the temporary
    original.reset();
    EXPECT_EQ(destroyed, 2);
    holder.reset();
    EXPECT_EQ(destroyed, 3);
}

// A class that inherits the count along two paths has one count.
class left : public virtual tav::ref_counted {};
class right : public virtual tav::ref_counted {};
class both : public left, public right {
public:
    explicit both(int& destroyed) : destroyed_(&destroyed) {}
    ~both() override { ++*destroyed_; }

private:
    int* destroyed_;
};

TEST(ref_counted, virtual_base_gives_one_count) {
    int destroyed = 0;
    auto* object = new both(destroyed);
    boost::intrusive_ptr<left> as_left(object);
    boost::intrusive_ptr<right> as_right(object);
    as_left.reset();
    EXPECT_EQ(destroyed, 0);
    as_right.reset();
    EXPECT_EQ(destroyed, 1);
}

} // namespace
