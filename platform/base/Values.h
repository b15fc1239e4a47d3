// Reference-counted value kinds: strings, URLs, arrays, dictionaries, numbers
// and errors, each with an immutable form and (where the kind has one) a
// mutable form derived from it. Creation functions return +1 references.
//
// Immutable values may be shared between threads freely. The mutable forms lock
// their own monitor around every read and write, so one thread may read while
// another writes.
#pragma once

#include "platform/base/Object.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class String : public Object {
public:
    static String* create(const char* utf8); // null text gives an empty string
    static String* create(std::string utf8);

    virtual std::string utf8() const { return text_; }
    std::size_t length() const { return utf8().size(); }

    Object* copy() const override;
    Object* mutableCopy() const override;
    std::string description() const override { return utf8(); }
    bool isEqual(const Object* other) const override;
    const char* kindName() const override { return "String"; }

protected:
    explicit String(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

class MutableString final : public String {
public:
    static MutableString* create(std::string utf8 = {});

    std::string utf8() const override;
    void setString(std::string utf8);
    void append(const std::string& utf8);
    void replaceAll(const std::string& from, const std::string& to);

    Object* copy() const override;
    const char* kindName() const override { return "MutableString"; }

private:
    using String::String;
};

// A URL: a string, optionally relative to a base URL. File URLs carry an
// absolute path behind "file://" (no percent encoding: paths are kept as given).
class URL final : public Object {
public:
    static URL* fileURLWithPath(const std::string& path);
    static URL* create(const std::string& string, URL* base = nullptr);

    const std::string& relativeString() const { return string_; }
    URL* baseURL() const { return base_.get(); }
    std::string absoluteString() const;
    bool isFileURL() const;
    // The file path, without the scheme; empty for a URL that is not a file URL.
    std::string path() const;
    // The path with "." and ".." components resolved and repeated slashes removed.
    std::string standardizedPath() const;
    std::string lastPathComponent() const;
    // Text after the last "." of the last component; `hasExtension` tells an
    // empty extension ("name.") from none at all ("name").
    std::string pathExtension(bool* hasExtension = nullptr) const;

    std::string description() const override { return absoluteString(); }
    bool isEqual(const Object* other) const override;
    const char* kindName() const override { return "URL"; }

private:
    URL(std::string string, URL* base) : string_(std::move(string)), base_(Ref<URL>::retain(base)) {}
    std::string string_;
    Ref<URL> base_;
};

class Number final : public Object {
public:
    static Number* create(double value);
    static Number* createInteger(long long value);
    static Number* createBool(bool value);

    double doubleValue() const { return isInteger_ ? static_cast<double>(integer_) : real_; }
    long long longLongValue() const { return isInteger_ ? integer_ : static_cast<long long>(real_); }
    bool boolValue() const { return isInteger_ ? integer_ != 0 : real_ != 0.0; }

    std::string description() const override;
    bool isEqual(const Object* other) const override;
    const char* kindName() const override { return "Number"; }

private:
    Number() = default;
    bool isInteger_ = false;
    long long integer_ = 0;
    double real_ = 0.0;
};

class Array : public Object {
public:
    // Retains each element.
    static Array* create(const std::vector<Object*>& items = {});

    std::size_t count() const;
    // The element at i (not retained), or null past the end.
    Object* objectAtIndex(std::size_t i) const;
    // Every element, each retained for the caller's scope.
    std::vector<Ref<Object>> items() const;

    Object* copy() const override;
    Object* mutableCopy() const override;
    std::string description() const override;
    bool isEqual(const Object* other) const override;
    const char* kindName() const override { return "Array"; }

protected:
    explicit Array(const std::vector<Object*>& items);
    ~Array() override;
    std::vector<Object*> items_;
};

class MutableArray final : public Array {
public:
    static MutableArray* create(const std::vector<Object*>& items = {});

    void addObject(Object* o); // retains; null is ignored
    void removeObjectAtIndex(std::size_t i);
    void removeAllObjects();

    Object* copy() const override;
    const char* kindName() const override { return "MutableArray"; }

private:
    using Array::Array;
};

class Dictionary : public Object {
public:
    using Pairs = std::vector<std::pair<Object*, Object*>>;
    // Keys are copied (as the platform does); values retained.
    static Dictionary* create(const Pairs& pairs = {});

    std::size_t count() const;
    // The value for a key equal to `key` (not retained), or null.
    Object* objectForKey(const Object* key) const;
    Object* objectForKey(const char* key) const;
    // Keys and values, retained for the caller's scope, in insertion order.
    std::vector<std::pair<Ref<Object>, Ref<Object>>> entries() const;

    Object* copy() const override;
    Object* mutableCopy() const override;
    std::string description() const override;
    bool isEqual(const Object* other) const override;
    const char* kindName() const override { return "Dictionary"; }

protected:
    explicit Dictionary(const Pairs& pairs);
    ~Dictionary() override;
    void put(Object* key, Object* value);
    Pairs pairs_;
};

class MutableDictionary final : public Dictionary {
public:
    static MutableDictionary* create(const Pairs& pairs = {});

    void setObject(Object* value, Object* key); // null value removes the key
    void setObject(Object* value, const char* key);
    void removeObjectForKey(const Object* key);
    void removeAllObjects();

    Object* copy() const override;
    const char* kindName() const override { return "MutableDictionary"; }

private:
    using Dictionary::Dictionary;
};

class Error final : public Object {
public:
    // The user information is copied.
    static Error* create(const std::string& domain, long code, Dictionary* userInfo = nullptr);

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    Dictionary* userInfo() const { return userInfo_.get(); }
    // The user information's "NSLocalizedDescription" text, or a generic one.
    std::string localizedDescription() const;

    std::string description() const override;
    bool isEqual(const Object* other) const override;
    const char* kindName() const override { return "Error"; }

private:
    Error(std::string domain, long code, Dictionary* userInfo);
    std::string domain_;
    long code_;
    Ref<Dictionary> userInfo_;
};

// The key of an error's user-facing text in its user information.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";

} // namespace platform
