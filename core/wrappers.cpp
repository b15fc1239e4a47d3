#include "core/wrappers.h"

#include <mutex>
#include <vector>

namespace ZQ {

const CreationParameters& defaultCreationParameters() {
    static const CreationParameters parameters{};
    return parameters;
}

platform::Object* takeReference(platform::Object* ref, std::int32_t code) {
    if (!ref) return nullptr;
    switch (code) {
    case kOwnRetain:
    case kOwnRetainToo:
        ref->retain();
        break;
    case kOwnReleaseOnce:
        ref->release();
        break;
    default:
        break; // adopted as it is
    }
    return ref;
}

platform::Object* copyOutReference(platform::Object* ref, std::int32_t code) {
    if (!ref) return nullptr;
    switch (code) {
    case kOwnRetain:
    case kOwnRetainToo:
        return ref->retain();
    case kOwnMutableCopy:
        return ref->mutableCopy();
    case kOwnShare:
    case kOwnAdopt:
        return ref;
    default:
        return nullptr;
    }
}

Ref<platform::String> ZUObject::className() const {
    // One constant string per class name, never copied and never freed.
    static std::mutex mutex;
    static auto* constants = new std::vector<std::pair<const char*, platform::String*>>;
    std::lock_guard l(mutex);
    for (auto& [text, s] : *constants)
        if (text == classNameText()) return Ref<platform::String>::retain(s);
    constants->emplace_back(classNameText(), platform::String::create(classNameText()));
    return Ref<platform::String>::retain(constants->back().second);
}

Ref<platform::String> ZUObject::description() const {
    platform::Object* ref = reference();
    return Ref<platform::String>::adopt(platform::String::create(ref ? ref->description() : "(null)"));
}

bool ZUObject::equals(const ZUObject& other) const {
    platform::Object* mine = reference();
    platform::Object* theirs = other.reference();
    if (!mine || !theirs) return !mine && !theirs;
    return mine->isEqual(theirs);
}

std::uint32_t ZUObject::retainCount() const {
    platform::Object* ref = reference();
    return ref ? ref->retainCount() : 0;
}

void ZUString::createWithUTF8(const char* text) {
    take(platform::String::create(text), kOwnAdopt);
}

platform::URL* ZUURL::copy() const {
    platform::URL* u = get();
    return u ? platform::URL::create(u->relativeString(), u->baseURL()) : nullptr;
}

platform::Error* ZUError::copy() const {
    platform::Error* e = get();
    return e ? platform::Error::create(e->domain(), e->code(), e->userInfo()) : nullptr;
}

// ---- t_string

namespace {
// A t_ value asks its content and treats an unanswered query as empty.
template <class Content> bool answerIsEmpty(Content& content, std::int32_t code, QueryResult& result) {
    if (code != kQueryIsEmpty) return false;
    QueryResult inner(true);
    result.setBoolean(ask(&content, kQueryIsEmpty, inner) == 1 ? inner.boolean() : true);
    return true;
}
} // namespace

t_string::t_string(const char* utf8) {
    if (utf8) content_.with([&](ZUString& u) { u.createWithUTF8(utf8); });
}

t_string::t_string(const t_string& other) : z_(other) {
    content_.set(other.get().get());
}

t_string& t_string::operator=(const t_string& other) {
    if (this != &other) {
        auto ref = other.get();
        sync_guard g(this);
        content_.set(ref.get());
    }
    return *this;
}

bool t_string::handle(std::int32_t code, QueryResult& result) {
    return answerIsEmpty(content_, code, result) || z_::handle(code, result);
}

void t_string::setText(const std::string& utf8) {
    sync_guard g(this);
    content_.with([&](ZUString& u) { u.createWithUTF8(utf8.c_str()); });
}

std::string t_string::utf8() const {
    auto s = get();
    return s ? s->utf8() : std::string();
}

Ref<platform::MutableString> t_string::mutableCore() {
    sync_guard g(this);
    return content_.with([](ZUString& u) { return Ref<platform::MutableString>::retain(u.mutableCore()); });
}

void t_string::append(const std::string& utf8) {
    sync_guard g(this);
    content_.with([&](ZUString& u) {
        if (u.isEmpty()) u.createEmptyMutable();
        u.mutableCore()->append(utf8);
    });
}

void t_string::replaceAll(const std::string& from, const std::string& to) {
    sync_guard g(this);
    content_.with([&](ZUString& u) {
        if (auto* m = u.mutableCore()) m->replaceAll(from, to);
    });
}

// ---- t_url

t_url t_url::fileURL(const std::string& path) {
    return t_url(platform::URL::fileURLWithPath(path), kOwnAdopt);
}

t_url::t_url(const t_url& other) : z_(other) {
    content_.set(other.get().get());
}

t_url& t_url::operator=(const t_url& other) {
    if (this != &other) {
        auto ref = other.get();
        sync_guard g(this);
        content_.set(ref.get());
    }
    return *this;
}

bool t_url::handle(std::int32_t code, QueryResult& result) {
    return answerIsEmpty(content_, code, result) || z_::handle(code, result);
}

std::string t_url::path() const {
    auto u = get();
    return u ? u->path() : std::string();
}

// ---- t_array

t_array::t_array(const t_array& other) : z_(other) {
    content_.set(other.get().get());
}

t_array& t_array::operator=(const t_array& other) {
    if (this != &other) {
        auto ref = other.get();
        sync_guard g(this);
        content_.set(ref.get());
    }
    return *this;
}

bool t_array::handle(std::int32_t code, QueryResult& result) {
    return answerIsEmpty(content_, code, result) || z_::handle(code, result);
}

std::size_t t_array::count() {
    return content_.with([](ZUArray& u) { return u.count(); });
}

Ref<platform::Object> t_array::valueAt(std::size_t i) {
    return content_.with([&](ZUArray& u) { return Ref<platform::Object>::retain(u.valueAtIndex(i)); });
}

void t_array::add(platform::Object* o) {
    sync_guard g(this);
    content_.with([&](ZUArray& u) {
        if (u.isEmpty()) u.createEmptyMutable();
        u.mutableCore()->addObject(o);
    });
}

} // namespace ZQ
