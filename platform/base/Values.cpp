#include "platform/base/Values.h"

#include <filesystem>

#include <cstdio>
#include <mutex>

namespace platform {

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;

std::string indent(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n') out += "    ";
    }
    return out;
}
} // namespace

// ---- String

String* String::create(const char* utf8) {
    return new String(utf8 ? utf8 : "");
}
String* String::create(std::string utf8) {
    return new String(std::move(utf8));
}

Object* String::copy() const {
    return retain();
}
Object* String::mutableCopy() const {
    return MutableString::create(utf8());
}

bool String::isEqual(const Object* other) const {
    if (other == this) return true;
    auto* s = dynamic_cast<const String*>(other);
    return s && s->utf8() == utf8();
}

MutableString* MutableString::create(std::string utf8) {
    return new MutableString(std::move(utf8));
}

std::string MutableString::utf8() const {
    Lock l(monitor());
    return text_;
}

void MutableString::setString(std::string utf8) {
    Lock l(monitor());
    text_ = std::move(utf8);
}

void MutableString::append(const std::string& utf8) {
    Lock l(monitor());
    text_ += utf8;
}

void MutableString::replaceAll(const std::string& from, const std::string& to) {
    if (from.empty()) return;
    Lock l(monitor());
    std::string out;
    std::size_t at = 0;
    for (std::size_t hit; (hit = text_.find(from, at)) != std::string::npos; at = hit + from.size())
        out.append(text_, at, hit - at).append(to);
    out.append(text_, at, std::string::npos);
    text_ = std::move(out);
}

Object* MutableString::copy() const {
    return String::create(utf8());
}

// ---- URL

namespace {
constexpr const char* kFileScheme = "file://";

std::string directoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
} // namespace

URL* URL::fileURLWithPath(const std::string& path) {
    // A relative path names a file in the current directory, as on the
    // desktop platforms.
    if (!path.empty() && path[0] != '/') {
        std::error_code ec;
        std::filesystem::path cwd = std::filesystem::current_path(ec);
        if (!ec) return new URL(kFileScheme + (cwd / path).string(), nullptr);
    }
    return new URL(kFileScheme + path, nullptr);
}

URL* URL::create(const std::string& string, URL* base) {
    return new URL(string, base);
}

std::string URL::absoluteString() const {
    if (!base_ || string_.find("://") != std::string::npos) return string_;
    if (!string_.empty() && string_[0] == '/') {
        std::string b = base_->absoluteString();
        auto scheme = b.find("://");
        return scheme == std::string::npos ? string_ : b.substr(0, scheme + 3) + string_;
    }
    return directoryOf(base_->absoluteString()) + string_;
}

bool URL::isFileURL() const {
    return absoluteString().rfind(kFileScheme, 0) == 0;
}

std::string URL::path() const {
    std::string a = absoluteString();
    if (a.rfind(kFileScheme, 0) != 0) return {};
    std::string p = a.substr(std::char_traits<char>::length(kFileScheme));
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

std::string URL::standardizedPath() const {
    std::string p = path();
    if (p.empty()) return p;
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= p.size()) {
        auto slash = p.find('/', at);
        if (slash == std::string::npos) slash = p.size();
        std::string part = p.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string out = p[0] == '/' ? "/" : "";
    for (std::size_t i = 0; i < parts.size(); ++i)
        out += (i ? "/" : "") + parts[i];
    return out;
}

std::string URL::lastPathComponent() const {
    std::string p = path();
    auto slash = p.rfind('/');
    return (slash == std::string::npos || p.size() == 1) ? p : p.substr(slash + 1);
}

std::string URL::pathExtension(bool* hasExtension) const {
    std::string name = lastPathComponent();
    auto dot = name.rfind('.');
    // A leading dot names a hidden file, not an extension.
    bool has = dot != std::string::npos && dot != 0;
    if (hasExtension) *hasExtension = has;
    return has ? name.substr(dot + 1) : std::string();
}

bool URL::isEqual(const Object* other) const {
    if (other == this) return true;
    auto* u = dynamic_cast<const URL*>(other);
    if (!u || u->string_ != string_) return false;
    if (!base_ || !u->base_) return !base_ && !u->base_;
    return base_->isEqual(u->base_.get());
}

// ---- Number

Number* Number::create(double value) {
    auto* n = new Number;
    n->real_ = value;
    return n;
}

Number* Number::createInteger(long long value) {
    auto* n = new Number;
    n->isInteger_ = true;
    n->integer_ = value;
    return n;
}

Number* Number::createBool(bool value) {
    return createInteger(value ? 1 : 0);
}

std::string Number::description() const {
    char text[64];
    if (isInteger_)
        std::snprintf(text, sizeof text, "%lld", integer_);
    else
        std::snprintf(text, sizeof text, "%.17g", real_);
    return text;
}

bool Number::isEqual(const Object* other) const {
    auto* n = dynamic_cast<const Number*>(other);
    if (!n) return false;
    if (isInteger_ && n->isInteger_) return integer_ == n->integer_;
    return doubleValue() == n->doubleValue();
}

// ---- Array

Array::Array(const std::vector<Object*>& items) {
    items_.reserve(items.size());
    for (Object* o : items)
        if (o) items_.push_back(o->retain());
}

Array::~Array() {
    for (Object* o : items_)
        o->release();
}

Array* Array::create(const std::vector<Object*>& items) {
    return new Array(items);
}

std::size_t Array::count() const {
    Lock l(monitor());
    return items_.size();
}

Object* Array::objectAtIndex(std::size_t i) const {
    Lock l(monitor());
    return i < items_.size() ? items_[i] : nullptr;
}

std::vector<Ref<Object>> Array::items() const {
    Lock l(monitor());
    std::vector<Ref<Object>> out;
    out.reserve(items_.size());
    for (Object* o : items_)
        out.push_back(Ref<Object>::retain(o));
    return out;
}

Object* Array::copy() const {
    return retain();
}

Object* Array::mutableCopy() const {
    Lock l(monitor());
    return MutableArray::create(items_);
}

std::string Array::description() const {
    std::string out = "(";
    auto all = items();
    for (std::size_t i = 0; i < all.size(); ++i)
        out += (i ? ",\n    " : "\n    ") + indent(all[i]->description());
    return out + (all.empty() ? ")" : "\n)");
}

bool Array::isEqual(const Object* other) const {
    if (other == this) return true;
    auto* a = dynamic_cast<const Array*>(other);
    if (!a) return false;
    auto mine = items(), theirs = a->items();
    if (mine.size() != theirs.size()) return false;
    for (std::size_t i = 0; i < mine.size(); ++i)
        if (!mine[i]->isEqual(theirs[i].get())) return false;
    return true;
}

MutableArray* MutableArray::create(const std::vector<Object*>& items) {
    return new MutableArray(items);
}

void MutableArray::addObject(Object* o) {
    if (!o) return;
    Lock l(monitor());
    items_.push_back(o->retain());
}

void MutableArray::removeObjectAtIndex(std::size_t i) {
    Object* gone = nullptr;
    {
        Lock l(monitor());
        if (i >= items_.size()) return;
        gone = items_[i];
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    gone->release();
}

void MutableArray::removeAllObjects() {
    std::vector<Object*> gone;
    {
        Lock l(monitor());
        gone.swap(items_);
    }
    for (Object* o : gone)
        o->release();
}

Object* MutableArray::copy() const {
    Lock l(monitor());
    return Array::create(items_);
}

// ---- Dictionary

Dictionary::Dictionary(const Pairs& pairs) {
    for (auto& [k, v] : pairs)
        put(k, v);
}

Dictionary::~Dictionary() {
    for (auto& [k, v] : pairs_) {
        k->release();
        v->release();
    }
}

void Dictionary::put(Object* key, Object* value) {
    if (!key) return;
    Lock l(monitor());
    for (auto it = pairs_.begin(); it != pairs_.end(); ++it) {
        if (!it->first->isEqual(key)) continue;
        Object* old = it->second;
        if (value) {
            it->second = value->retain();
        } else {
            it->first->release();
            pairs_.erase(it);
        }
        old->release();
        return;
    }
    if (value) pairs_.emplace_back(key->copy(), value->retain());
}

Dictionary* Dictionary::create(const Pairs& pairs) {
    return new Dictionary(pairs);
}

std::size_t Dictionary::count() const {
    Lock l(monitor());
    return pairs_.size();
}

Object* Dictionary::objectForKey(const Object* key) const {
    Lock l(monitor());
    for (auto& [k, v] : pairs_)
        if (k->isEqual(key)) return v;
    return nullptr;
}

Object* Dictionary::objectForKey(const char* key) const {
    Ref<String> k = Ref<String>::adopt(String::create(key));
    return objectForKey(k.get());
}

std::vector<std::pair<Ref<Object>, Ref<Object>>> Dictionary::entries() const {
    Lock l(monitor());
    std::vector<std::pair<Ref<Object>, Ref<Object>>> out;
    for (auto& [k, v] : pairs_)
        out.emplace_back(Ref<Object>::retain(k), Ref<Object>::retain(v));
    return out;
}

Object* Dictionary::copy() const {
    return retain();
}

Object* Dictionary::mutableCopy() const {
    Lock l(monitor());
    return MutableDictionary::create(pairs_);
}

std::string Dictionary::description() const {
    std::string out = "{";
    auto all = entries();
    for (auto& [k, v] : all)
        out += "\n    " + k->description() + " = " + indent(v->description()) + ";";
    return out + (all.empty() ? "}" : "\n}");
}

bool Dictionary::isEqual(const Object* other) const {
    if (other == this) return true;
    auto* d = dynamic_cast<const Dictionary*>(other);
    if (!d || d->count() != count()) return false;
    for (auto& [k, v] : entries()) {
        Object* theirs = d->objectForKey(k.get());
        if (!theirs || !v->isEqual(theirs)) return false;
    }
    return true;
}

MutableDictionary* MutableDictionary::create(const Pairs& pairs) {
    return new MutableDictionary(pairs);
}

void MutableDictionary::setObject(Object* value, Object* key) {
    put(key, value);
}

void MutableDictionary::setObject(Object* value, const char* key) {
    Ref<String> k = Ref<String>::adopt(String::create(key));
    put(k.get(), value);
}

void MutableDictionary::removeObjectForKey(const Object* key) {
    Object* k = nullptr;
    Object* v = nullptr;
    {
        Lock l(monitor());
        for (auto it = pairs_.begin(); it != pairs_.end(); ++it) {
            if (!it->first->isEqual(key)) continue;
            k = it->first;
            v = it->second;
            pairs_.erase(it);
            break;
        }
    }
    releaseObject(k);
    releaseObject(v);
}

void MutableDictionary::removeAllObjects() {
    Pairs gone;
    {
        Lock l(monitor());
        gone.swap(pairs_);
    }
    for (auto& [k, v] : gone) {
        k->release();
        v->release();
    }
}

Object* MutableDictionary::copy() const {
    Lock l(monitor());
    return Dictionary::create(pairs_);
}

// ---- Error

Error::Error(std::string domain, long code, Dictionary* userInfo)
    : domain_(std::move(domain)), code_(code),
      userInfo_(Ref<Dictionary>::adopt(userInfo ? static_cast<Dictionary*>(userInfo->copy()) : nullptr)) {}

Error* Error::create(const std::string& domain, long code, Dictionary* userInfo) {
    return new Error(domain, code, userInfo);
}

std::string Error::localizedDescription() const {
    if (userInfo_)
        if (Object* text = userInfo_->objectForKey(kLocalizedDescriptionKey)) return text->description();
    return "The operation couldn't be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::string Error::description() const {
    std::string out =
        "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" + localizedDescription() + "\"";
    if (userInfo_ && userInfo_->count()) out += " UserInfo=" + userInfo_->description();
    return out;
}

bool Error::isEqual(const Object* other) const {
    if (other == this) return true;
    auto* e = dynamic_cast<const Error*>(other);
    if (!e || e->domain_ != domain_ || e->code_ != code_) return false;
    if (!userInfo_ || !e->userInfo_) return !userInfo_ == !e->userInfo_;
    return userInfo_->isEqual(e->userInfo_.get());
}

} // namespace platform
