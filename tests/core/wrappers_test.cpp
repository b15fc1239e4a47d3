#include "core/wrappers.h"

#include <gtest/gtest.h>

using namespace ZQ;

namespace {
platform::String* freshString(const char* text) {
    return platform::String::create(text);
}
} // namespace

TEST(OwnershipCodes, TakingAReference) {
    struct Case {
        std::int32_t code;
        int change; // retain count change when taken
    } cases[] = {{1, +1}, {2, -1}, {3, 0}, {4, 0}, {6, +1}, {8, 0}, {5, 0}, {0, 0}};
    for (auto c : cases) {
        platform::String* s = freshString("x");
        s->retain();
        s->retain(); // 3 references, so a release-once leaves one to observe
        auto before = static_cast<int>(s->retainCount());
        takeReference(s, c.code);
        EXPECT_EQ(static_cast<int>(s->retainCount()) - before, c.change) << "code " << c.code;
        while (s->retainCount() > 1)
            s->release();
        s->release();
    }
}

TEST(OwnershipCodes, CopyingAReferenceOut) {
    Ref<platform::String> s = Ref<platform::String>::adopt(freshString("abc"));
    for (std::int32_t code : {1, 6}) {
        platform::Object* out = copyOutReference(s.get(), code);
        EXPECT_EQ(out, s.get());
        EXPECT_EQ(s->retainCount(), 2u);
        out->release();
    }
    for (std::int32_t code : {4, 8}) {
        EXPECT_EQ(copyOutReference(s.get(), code), s.get());
        EXPECT_EQ(s->retainCount(), 1u);
    }
    for (std::int32_t code : {2, 0, 5, 7})
        EXPECT_EQ(copyOutReference(s.get(), code), nullptr);

    Ref<platform::Object> independent = Ref<platform::Object>::adopt(copyOutReference(s.get(), 3));
    auto* m = dynamic_cast<platform::MutableString*>(independent.get());
    ASSERT_NE(m, nullptr);
    m->append("d");
    EXPECT_EQ(s->utf8(), "abc");
    EXPECT_EQ(s->retainCount(), 1u);
}

TEST(OwnershipCodes, TakingWithReleaseOnceLeavesTheCountOneLower) {
    platform::String* s = freshString("y");
    s->retain();
    s->retain(); // 3
    {
        ZUString u(s, kOwnReleaseOnce);
        EXPECT_EQ(s->retainCount(), 2u);
    } // the wrapper releases the reference it holds
    EXPECT_EQ(s->retainCount(), 1u);
    s->release();
}

TEST(ValueWrappers, WritingSwitchesToAMutableCopyAndReleasesTheOriginalOnce) {
    platform::String* original = freshString("text");
    original->retain(); // witness
    t_string value(original, kOwnAdopt);
    EXPECT_EQ(original->retainCount(), 2u);
    value.append(" more");
    EXPECT_EQ(original->retainCount(), 1u); // released exactly once by the switch
    EXPECT_EQ(original->utf8(), "text");
    EXPECT_EQ(value.utf8(), "text more");
    auto core = value.mutableCore();
    auto again = value.mutableCore();
    EXPECT_EQ(core.get(), again.get()); // the second call does not copy
    original->release();
}

TEST(ValueWrappers, MutableCoreOfAnEmptyValueIsNull) {
    ZUString u;
    EXPECT_EQ(u.mutableCore(), nullptr);
}

TEST(ValueWrappers, EmptinessGoesThroughTheQueryProtocol) {
    t_url none;
    EXPECT_TRUE(none.isEmpty());
    t_url some = t_url::fileURL("/tmp/a.wav");
    EXPECT_FALSE(some.isEmpty());
    EXPECT_EQ(some.path(), "/tmp/a.wav");
    EXPECT_EQ(some.get()->retainCount(), 2u); // the wrapper's and the Ref's
    t_string text("");
    EXPECT_FALSE(text.isEmpty()); // an empty text is still a held value
    t_array list;
    EXPECT_TRUE(list.isEmpty());
    list.add(Ref<platform::String>::adopt(freshString("a")).get());
    EXPECT_FALSE(list.isEmpty());
    EXPECT_EQ(list.count(), 1u);
    EXPECT_EQ(list.valueAt(0)->description(), "a");
}

TEST(ValueWrappers, ClassNames) {
    EXPECT_EQ(ZIString().className()->utf8(), "ZIString");
    EXPECT_EQ(ZUString().className()->utf8(), "ZUString");
    EXPECT_EQ(ZIURL().className()->utf8(), "ZIURL");
    EXPECT_EQ(ZUURL().className()->utf8(), "ZUURL");
    EXPECT_EQ(ZIArray().className()->utf8(), "ZIArray");
    EXPECT_EQ(ZUArray().className()->utf8(), "ZUArray");
    EXPECT_EQ(ZIDictionary().className()->utf8(), "ZIDictionary");
    EXPECT_EQ(ZUDictionary().className()->utf8(), "ZUDictionary");
    EXPECT_EQ(ZIError().className()->utf8(), "ZIError");
    EXPECT_EQ(ZUError().className()->utf8(), "ZUError");
    // The underlying form shares one constant; the interface form builds anew.
    EXPECT_EQ(ZUString().className().get(), ZUString().className().get());
    EXPECT_NE(ZIString().className().get(), ZIString().className().get());
}

TEST(ValueWrappers, EqualityDescriptionAndCopies) {
    Ref<platform::String> a = Ref<platform::String>::adopt(freshString("same"));
    Ref<platform::String> b = Ref<platform::String>::adopt(freshString("same"));
    ZIString x(a.get(), kOwnRetain), y(b.get(), kOwnRetain), empty;
    EXPECT_TRUE(x.equals(y));
    EXPECT_FALSE(x.equals(empty));
    EXPECT_EQ(x.description()->utf8(), "same");
    EXPECT_EQ(x.retainCount(), 2u);

    Ref<platform::URL> base = Ref<platform::URL>::adopt(platform::URL::fileURLWithPath("/dir/"));
    Ref<platform::URL> rel = Ref<platform::URL>::adopt(platform::URL::create("f.caf", base.get()));
    ZUURL u(rel.get(), kOwnRetain);
    Ref<platform::URL> copied = Ref<platform::URL>::adopt(u.copy());
    EXPECT_NE(copied.get(), rel.get());
    EXPECT_TRUE(copied->isEqual(rel.get()));
    EXPECT_EQ(copied->path(), "/dir/f.caf");

    Ref<platform::Error> e = Ref<platform::Error>::adopt(platform::Error::create("D", 3));
    ZUError ue(e.get(), kOwnRetain);
    Ref<platform::Error> ec = Ref<platform::Error>::adopt(ue.copy());
    EXPECT_NE(ec.get(), e.get());
    EXPECT_TRUE(ec->isEqual(e.get()));
}

TEST(ValueWrappers, CopiedValuesShareTheReference) {
    t_string a("shared");
    t_string b(a);
    EXPECT_EQ(a.get().get(), b.get().get());
    b.append("!"); // b switches to its own mutable copy; a is untouched
    EXPECT_EQ(a.utf8(), "shared");
    EXPECT_EQ(b.utf8(), "shared!");
}

TEST(ValueWrappers, DefaultCreationParameters) {
    EXPECT_EQ(defaultCreationParameters().capacity, 0u);
    EXPECT_EQ(defaultCreationParameters().ownership, kOwnRetain);
}
