#pragma once
// The objects the simulator exports on its bus connection, with their
// properties, and the signals a client watches them by: InterfacesAdded and
// InterfacesRemoved from the object manager at "/", PropertiesChanged from
// each object. Owners describe an object once and then only say what changed.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Glib.h"

namespace bluezsim {

using Props = std::map<std::string, VariantPtr>;

// The answer to one method call, owed exactly once. A call dropped without
// an answer is answered with an error so that the caller never hangs.
class Reply {
public:
    Reply() = default;
    explicit Reply(GDBusMethodInvocation* invocation) : invocation_(invocation) {}
    Reply(Reply&& o) noexcept : invocation_(std::exchange(o.invocation_, nullptr)) {}
    Reply& operator=(Reply&& o) noexcept;
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    ~Reply();

    void ok(GVariant* value = nullptr);      // floating values are consumed
    void okWithFd(GVariant* value, int fd);  // passes `fd` (closed here) with the reply
    void fail(const std::string& name, const std::string& text);
    explicit operator bool() const { return invocation_ != nullptr; }

private:
    GDBusMethodInvocation* invocation_ = nullptr;
};

struct Call {
    std::string sender;  // the caller's unique name
    std::string path;
    std::string method;
    GVariant* params;  // borrowed for the duration of the handler
    Reply reply;
};

using MethodHandler = std::function<void(Call&)>;
// Sets a writable property; returns an error name and text to refuse.
using PropertySetter = std::function<std::pair<std::string, std::string>(const std::string& name, GVariant* value)>;

struct Interface {
    std::string name;
    Props props;
    MethodHandler methods;  // may be empty: calls are then refused
    PropertySetter setter;  // may be empty: nothing is writable
};

class ObjectTree {
public:
    explicit ObjectTree(GDBusConnection* connection);
    ObjectTree(const ObjectTree&) = delete;
    ObjectTree& operator=(const ObjectTree&) = delete;
    ~ObjectTree();

    // Exports an object; `managed` objects are listed by the object manager
    // and announced with InterfacesAdded.
    void add(const std::string& path, std::vector<Interface> interfaces, bool managed = true);
    // Unexports it, announcing InterfacesRemoved. Unknown paths are ignored.
    void remove(const std::string& path);
    bool has(const std::string& path) const { return objects_.count(path) != 0; }

    // Stores the values and sends one PropertiesChanged with them (even when
    // a value is unchanged: BlueZ does so for RSSI and notifications) and with
    // `invalidated`, which are removed from the object.
    void update(const std::string& path, const std::string& iface, const Props& changed,
                const std::vector<std::string>& invalidated = {});
    // The stored value, or an empty VariantPtr.
    VariantPtr get(const std::string& path, const std::string& iface, const std::string& name) const;

    GDBusConnection* connection() const { return connection_; }
    void emit(const std::string& path, const char* iface, const char* member, GVariant* args);

private:
    struct Registration;
    // Made, moved and destroyed where Registration is complete (not every
    // compiler lets a header destroy a unique_ptr to an incomplete type).
    struct Object {
        Object();
        Object(Object&&) noexcept;
        Object& operator=(Object&&) noexcept;
        ~Object();
        bool managed = true;
        std::vector<std::unique_ptr<Registration>> interfaces;  // in export order
    };
    Registration* find(const std::string& path, const std::string& iface) const;
    GVariant* describe(const Object& object) const;  // a{sa{sv}}
    void managedObjects(Call& call);

    static const GDBusInterfaceVTable* vtable();
    static void onMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
                         GDBusMethodInvocation*, gpointer);
    static GVariant* onGet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                           gpointer);
    static gboolean onSet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, GError**,
                          gpointer);

    GDBusConnection* connection_;
    std::map<std::string, Object> objects_;  // path order, as a client would list them
    std::vector<std::string> order_;         // export order, as GetManagedObjects answers
    guint managerId_ = 0;
};

}  // namespace bluezsim
