#include "platform/base/Values.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(PlatformValues, ObjectsStartWithOneReferenceAndDieWithTheLast) {
    String* s = String::create("abc");
    EXPECT_EQ(s->retainCount(), 1u);
    s->retain();
    EXPECT_EQ(s->retainCount(), 2u);
    s->release();
    EXPECT_EQ(s->retainCount(), 1u);
    s->release(); // ASan reports a leak or a double delete if this is wrong
}

TEST(PlatformValues, CopyOfImmutableSharesAndCopyOfMutableIsIndependent) {
    Ref<String> s = Ref<String>::adopt(String::create("abc"));
    Ref<Object> same = Ref<Object>::adopt(s->copy());
    EXPECT_EQ(same.get(), s.get());
    EXPECT_EQ(s->retainCount(), 2u);

    Ref<MutableString> m = Ref<MutableString>::adopt(MutableString::create("x"));
    Ref<Object> frozen = Ref<Object>::adopt(m->copy());
    EXPECT_NE(frozen.get(), m.get());
    m->append("y");
    EXPECT_EQ(m->utf8(), "xy");
    EXPECT_EQ(frozen->description(), "x");
    EXPECT_EQ(dynamic_cast<MutableString*>(frozen.get()), nullptr);

    Ref<Object> editable = Ref<Object>::adopt(s->mutableCopy());
    ASSERT_NE(dynamic_cast<MutableString*>(editable.get()), nullptr);
    EXPECT_TRUE(editable->isEqual(s.get()));
}

TEST(PlatformValues, MutableStringReplacesEveryOccurrence) {
    Ref<MutableString> m = Ref<MutableString>::adopt(MutableString::create("a\nb\n\nc"));
    m->replaceAll("\n", " _ _ _ ");
    EXPECT_EQ(m->utf8(), "a _ _ _ b _ _ _  _ _ _ c");
}

TEST(PlatformValues, FileURLsAnswerPathQuestions) {
    Ref<URL> u = Ref<URL>::adopt(URL::fileURLWithPath("/tmp/x/../sounds/a.tone.wav"));
    EXPECT_TRUE(u->isFileURL());
    EXPECT_EQ(u->path(), "/tmp/x/../sounds/a.tone.wav");
    EXPECT_EQ(u->standardizedPath(), "/tmp/sounds/a.tone.wav");
    EXPECT_EQ(u->lastPathComponent(), "a.tone.wav");
    bool has = false;
    EXPECT_EQ(u->pathExtension(&has), "wav");
    EXPECT_TRUE(has);

    Ref<URL> bare = Ref<URL>::adopt(URL::fileURLWithPath("/tmp/noext"));
    bare->pathExtension(&has);
    EXPECT_FALSE(has);
    Ref<URL> dotted = Ref<URL>::adopt(URL::fileURLWithPath("/tmp/name."));
    EXPECT_EQ(dotted->pathExtension(&has), "");
    EXPECT_TRUE(has);
    Ref<URL> hidden = Ref<URL>::adopt(URL::fileURLWithPath("/tmp/.hidden"));
    hidden->pathExtension(&has);
    EXPECT_FALSE(has);
}

TEST(PlatformValues, RelativeURLsResolveAgainstTheirBase) {
    Ref<URL> base = Ref<URL>::adopt(URL::fileURLWithPath("/music/album/"));
    Ref<URL> rel = Ref<URL>::adopt(URL::create("track.aif", base.get()));
    EXPECT_EQ(rel->path(), "/music/album/track.aif");
    Ref<URL> again = Ref<URL>::adopt(URL::create("track.aif", base.get()));
    EXPECT_TRUE(rel->isEqual(again.get()));
    Ref<URL> other = Ref<URL>::adopt(URL::create("track.aif"));
    EXPECT_FALSE(rel->isEqual(other.get()));
}

TEST(PlatformValues, ArraysRetainTheirElementsAndCompareByContent) {
    Ref<String> a = Ref<String>::adopt(String::create("a"));
    {
        Ref<Array> arr = Ref<Array>::adopt(Array::create({a.get(), a.get()}));
        EXPECT_EQ(a->retainCount(), 3u);
        EXPECT_EQ(arr->count(), 2u);
        EXPECT_EQ(arr->objectAtIndex(5), nullptr);
        Ref<MutableArray> m = Ref<MutableArray>::adopt(static_cast<MutableArray*>(arr->mutableCopy()));
        EXPECT_TRUE(m->isEqual(arr.get()));
        m->removeObjectAtIndex(0);
        EXPECT_FALSE(m->isEqual(arr.get()));
        EXPECT_EQ(a->retainCount(), 4u);
    }
    EXPECT_EQ(a->retainCount(), 1u);
}

TEST(PlatformValues, DictionariesLookUpByEqualKeysAndReplaceValues) {
    Ref<MutableDictionary> d = Ref<MutableDictionary>::adopt(MutableDictionary::create());
    Ref<Number> one = Ref<Number>::adopt(Number::createInteger(1));
    Ref<Number> two = Ref<Number>::adopt(Number::create(2.5));
    d->setObject(one.get(), "k");
    d->setObject(two.get(), "k");
    EXPECT_EQ(d->count(), 1u);
    EXPECT_EQ(d->objectForKey("k"), two.get());
    EXPECT_EQ(one->retainCount(), 1u);
    d->setObject(nullptr, "k");
    EXPECT_EQ(d->count(), 0u);
    EXPECT_EQ(two->retainCount(), 1u);

    d->setObject(one.get(), "title");
    EXPECT_EQ(d->description(), "{\n    title = 1;\n}");
    Ref<Object> frozen = Ref<Object>::adopt(d->copy());
    EXPECT_TRUE(frozen->isEqual(d.get()));
    d->removeAllObjects();
    EXPECT_FALSE(frozen->isEqual(d.get()));
}

TEST(PlatformValues, ErrorsCarryDomainCodeAndText) {
    Ref<MutableDictionary> info = Ref<MutableDictionary>::adopt(MutableDictionary::create());
    Ref<String> text = Ref<String>::adopt(String::create("The audio file could not be opened."));
    info->setObject(text.get(), kLocalizedDescriptionKey);
    Ref<Error> e = Ref<Error>::adopt(Error::create("ZQ", -1, info.get()));
    EXPECT_EQ(e->localizedDescription(), "The audio file could not be opened.");
    info->removeAllObjects(); // the error keeps its own copy
    EXPECT_EQ(e->localizedDescription(), "The audio file could not be opened.");
    Ref<Error> same = Ref<Error>::adopt(Error::create("ZQ", -1, e->userInfo()));
    EXPECT_TRUE(e->isEqual(same.get()));
    Ref<Error> other = Ref<Error>::adopt(Error::create("ZQ", -2));
    EXPECT_FALSE(e->isEqual(other.get()));
}
