// Value wrappers of platform strings, URLs, arrays, dictionaries and errors.
//
// Three layers per kind, outermost first: the member value (t_string, t_url,
// t_array: a z_ holding content_), the interface wrapper (ZI...: a z_ holding
// ecobj) and the underlying wrapper (ZU...: holds the reference itself, or a
// MutableAggregate that switches an immutable value to a mutable copy on first
// write). Each layer owns exactly one reference. The t_ and ZI layers lock
// themselves, so a value may be read on one thread while another replaces it;
// the ZU layer has no lock and is reached only through them.
#pragma once

#include "core/errors.h"
#include "core/object.h"
#include "platform/base/Values.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace ZQ {

using platform::Ref;

// Ownership codes passed when a wrapper takes a reference or copies one out.
enum Ownership : std::int32_t {
    kOwnRetain = 1,      // taken: retain;         copied out: retain and share
    kOwnReleaseOnce = 2, // taken: release once;   copied out: nothing
    kOwnMutableCopy = 3, // taken: adopt;          copied out: a mutable copy
    kOwnShare = 4,       // taken: adopt;          copied out: share, no retain
    kOwnRetainToo = 6,   // as 1
    kOwnAdopt = 8,       // as 4
};

// Parameters for creating a new platform value. The platform's allocator has
// no counterpart here; the capacity and the ownership code keep their meaning.
struct CreationParameters {
    std::uint64_t capacity = 0; // 0: unlimited
    std::int32_t ownership = kOwnRetain;
};
const CreationParameters& defaultCreationParameters();

// The effect of taking `ref` under `code`; returns `ref`.
platform::Object* takeReference(platform::Object* ref, std::int32_t code);
// The effect of copying `ref` out under `code`: the reference the caller gets
// (+1 for codes 1, 3 and 6; +0 for 4 and 8; null otherwise).
platform::Object* copyOutReference(platform::Object* ref, std::int32_t code);

// An immutable reference, or its mutable replacement after mutableCore().
template <class Imm, class Mut> class MutableAggregate {
public:
    struct Content {
        union {
            Imm* c;
            Mut* m;
        } content_{nullptr};
        std::int32_t mode_ = 0; // 1 when the mutable form is held
    };

    MutableAggregate() = default;
    MutableAggregate(const MutableAggregate&) = delete;
    MutableAggregate& operator=(const MutableAggregate&) = delete;
    ~MutableAggregate() { take(nullptr, kOwnShare); }

    Imm* get() const { return content_.content_.c; }
    bool isMutable() const { return content_.mode_ == 1; }

    void take(Imm* ref, std::int32_t code) {
        if (ref == content_.content_.c) return;
        Imm* old = content_.content_.c;
        content_.content_.c = static_cast<Imm*>(takeReference(ref, code));
        content_.mode_ = dynamic_cast<Mut*>(ref) ? 1 : 0;
        platform::releaseObject(old);
    }

    // Replaces an immutable reference by a mutable copy (once) and returns it.
    Mut* mutableCore() {
        Imm* held = content_.content_.c;
        if (!held) return nullptr;
        if (content_.mode_ != 1) {
            content_.content_.m = static_cast<Mut*>(held->mutableCopy());
            content_.mode_ = 1;
            held->release();
        }
        return content_.content_.m;
    }

private:
    Content content_;
};

// The polymorphic root of the underlying wrappers (no lock).
class ZUObject {
public:
    virtual ~ZUObject() = default;
    virtual platform::Object* reference() const = 0;
    virtual const char* classNameText() const = 0;

    // The class name, wrapping a constant text without copying it.
    Ref<platform::String> className() const;
    Ref<platform::String> description() const;
    bool equals(const ZUObject& other) const;
    std::uint32_t retainCount() const;
    bool isEmpty() const { return reference() == nullptr; }
};

// The underlying wrapper of a kind with an immutable and a mutable form.
template <class Imm, class Mut, const char* Name> class ZUAggregate : public ZUObject {
public:
    ZUAggregate() = default;
    ZUAggregate(Imm* ref, std::int32_t code) { ecobj.take(ref, code); }

    platform::Object* reference() const override { return ecobj.get(); }
    const char* classNameText() const override { return Name; }

    Imm* get() const { return ecobj.get(); }
    Mut* getMutable() const { return ecobj.isMutable() ? static_cast<Mut*>(ecobj.get()) : nullptr; }
    void take(Imm* ref, std::int32_t code) { ecobj.take(ref, code); }
    platform::Object* copyOut(std::int32_t code) const { return copyOutReference(ecobj.get(), code); }
    Mut* mutableCore() { return ecobj.mutableCore(); }
    // Holds a new, empty mutable value.
    void createEmptyMutable() {
        Ref<Mut> fresh = Ref<Mut>::adopt(Mut::create());
        ecobj.take(fresh.get(), kOwnRetain);
    }

private:
    MutableAggregate<Imm, Mut> ecobj;
};

// The underlying wrapper of a kind held as the reference itself.
template <class T, const char* Name> class ZUPlain : public ZUObject {
public:
    ZUPlain() = default;
    ZUPlain(T* ref, std::int32_t code) { take(ref, code); }
    ZUPlain(const ZUPlain&) = delete;
    ZUPlain& operator=(const ZUPlain&) = delete;
    ~ZUPlain() override { take(nullptr, kOwnShare); }

    platform::Object* reference() const override { return ecobj; }
    const char* classNameText() const override { return Name; }

    T* get() const { return ecobj; }
    void take(T* ref, std::int32_t code) {
        if (ref == ecobj) return;
        T* old = ecobj;
        ecobj = static_cast<T*>(takeReference(ref, code));
        platform::releaseObject(old);
    }
    platform::Object* copyOut(std::int32_t code) const { return copyOutReference(ecobj, code); }

private:
    T* ecobj = nullptr;
};

namespace names {
inline constexpr char ZUString[] = "ZUString";
inline constexpr char ZUURL[] = "ZUURL";
inline constexpr char ZUArray[] = "ZUArray";
inline constexpr char ZUDictionary[] = "ZUDictionary";
inline constexpr char ZUError[] = "ZUError";
inline constexpr char ZIString[] = "ZIString";
inline constexpr char ZIURL[] = "ZIURL";
inline constexpr char ZIArray[] = "ZIArray";
inline constexpr char ZIDictionary[] = "ZIDictionary";
inline constexpr char ZIError[] = "ZIError";
} // namespace names

class ZUString : public ZUAggregate<platform::String, platform::MutableString, names::ZUString> {
public:
    using ZUAggregate::ZUAggregate;
    void createWithUTF8(const char* text);
};

class ZUArray : public ZUAggregate<platform::Array, platform::MutableArray, names::ZUArray> {
public:
    using ZUAggregate::ZUAggregate;
    std::size_t count() const { return get() ? get()->count() : 0; }
    platform::Object* valueAtIndex(std::size_t i) const { return get() ? get()->objectAtIndex(i) : nullptr; }
};

class ZUDictionary : public ZUAggregate<platform::Dictionary, platform::MutableDictionary, names::ZUDictionary> {
public:
    using ZUAggregate::ZUAggregate;
    std::size_t count() const { return get() ? get()->count() : 0; }
};

class ZUURL : public ZUPlain<platform::URL, names::ZUURL> {
public:
    using ZUPlain::ZUPlain;
    // A new URL from the held one's string, relative to its base (+1).
    platform::URL* copy() const;
};

class ZUError : public ZUPlain<platform::Error, names::ZUError> {
public:
    using ZUPlain::ZUPlain;
    // A new error with the held one's domain, code and user information (+1).
    platform::Error* copy() const;
};

// The interface wrapper: a lockable holder of one underlying wrapper. Every
// member takes the wrapper's own lock.
template <class U, const char* Name> class ZIValue : public z_ {
public:
    using Held = std::remove_pointer_t<decltype(std::declval<U>().get())>;

    ZIValue() = default;
    ZIValue(Held* ref, std::int32_t code) : ecobj(ref, code) {}

    // The class name, as a new string built from the text.
    Ref<platform::String> className() const { return Ref<platform::String>::adopt(platform::String::create(Name)); }
    Ref<platform::String> description() const {
        sync_guard g(this);
        return ecobj.description();
    }
    // Platform equality of the two held references. Each side is read under
    // its own lock in turn, never both at once (no lock order to get wrong).
    template <class V, const char* N> bool equals(const ZIValue<V, N>& other) const {
        auto mine = get();
        auto theirs = other.get();
        if (!mine || !theirs) return !mine && !theirs;
        return mine->isEqual(theirs.get());
    }
    std::uint32_t retainCount() const {
        sync_guard g(this);
        return ecobj.retainCount();
    }
    bool isEmpty() { return isEmptyQuery(this); }

    // The held reference, retained for the caller's scope.
    Ref<Held> get() const {
        sync_guard g(this);
        return Ref<Held>::retain(ecobj.get());
    }
    void set(Held* ref, std::int32_t code = kOwnRetain) {
        sync_guard g(this);
        ecobj.take(ref, code);
    }
    platform::Object* copyOut(std::int32_t code) const {
        sync_guard g(this);
        return ecobj.copyOut(code);
    }
    // Kind-specific operations run under the lock.
    template <class F> auto with(F&& f) -> decltype(f(std::declval<U&>())) {
        sync_guard g(this);
        return f(ecobj);
    }

    bool handle(std::int32_t code, QueryResult& result) override {
        if (code != kQueryIsEmpty) return z_::handle(code, result);
        sync_guard g(this);
        result.setBoolean(ecobj.isEmpty());
        return true;
    }

private:
    U ecobj;
};

using ZIString = ZIValue<ZUString, names::ZIString>;
using ZIURL = ZIValue<ZUURL, names::ZIURL>;
using ZIArray = ZIValue<ZUArray, names::ZIArray>;
using ZIDictionary = ZIValue<ZUDictionary, names::ZIDictionary>;
using ZIError = ZIValue<ZUError, names::ZIError>;

// The member values.

class t_string : public z_ {
public:
    t_string() = default;
    explicit t_string(const char* utf8);
    explicit t_string(const std::string& utf8) : t_string(utf8.c_str()) {}
    t_string(platform::String* ref, std::int32_t code) : content_(ref, code) {}
    t_string(const t_string& other);
    t_string& operator=(const t_string& other);

    bool isEmpty() { return isEmptyQuery(this); }
    Ref<platform::String> get() const { return content_.get(); }
    void set(platform::String* ref, std::int32_t code = kOwnRetain) { content_.set(ref, code); }
    void setText(const std::string& utf8);
    // The text ("" when empty).
    std::string utf8() const;
    // Writes switch an immutable value to a mutable copy first.
    void append(const std::string& utf8);
    void replaceAll(const std::string& from, const std::string& to);
    Ref<platform::MutableString> mutableCore();
    ZIString& content() { return content_; }

    bool handle(std::int32_t code, QueryResult& result) override;

private:
    ZIString content_;
};

class t_url : public z_ {
public:
    t_url() = default;
    t_url(platform::URL* ref, std::int32_t code) : content_(ref, code) {}
    static t_url fileURL(const std::string& path);
    t_url(const t_url& other);
    t_url& operator=(const t_url& other);

    bool isEmpty() { return isEmptyQuery(this); }
    Ref<platform::URL> get() const { return content_.get(); }
    void set(platform::URL* ref, std::int32_t code = kOwnRetain) { content_.set(ref, code); }
    std::string path() const;
    ZIURL& content() { return content_; }

    bool handle(std::int32_t code, QueryResult& result) override;

private:
    ZIURL content_;
};

class t_array : public z_ {
public:
    t_array() = default;
    t_array(platform::Array* ref, std::int32_t code) : content_(ref, code) {}
    t_array(const t_array& other);
    t_array& operator=(const t_array& other);

    bool isEmpty() { return isEmptyQuery(this); }
    Ref<platform::Array> get() const { return content_.get(); }
    void set(platform::Array* ref, std::int32_t code = kOwnRetain) { content_.set(ref, code); }
    std::size_t count();
    Ref<platform::Object> valueAt(std::size_t i);
    // Writes switch an immutable value to a mutable copy first.
    void add(platform::Object* o);
    ZIArray& content() { return content_; }

    bool handle(std::int32_t code, QueryResult& result) override;

private:
    ZIArray content_;
};

} // namespace ZQ
