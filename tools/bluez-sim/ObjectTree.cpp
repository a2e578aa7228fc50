#include "ObjectTree.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "Interfaces.h"

namespace bluezsim {

struct ObjectTree::Registration {
    ObjectTree* tree;
    std::string path;
    Interface iface;
    guint id = 0;
};

ObjectTree::Object::Object() = default;
ObjectTree::Object::Object(Object&&) noexcept = default;
ObjectTree::Object& ObjectTree::Object::operator=(Object&&) noexcept = default;
ObjectTree::Object::~Object() = default;

// Reply --------------------------------------------------------------------

Reply& Reply::operator=(Reply&& o) noexcept {
    if (this != &o) {
        Reply dropped(std::move(*this));
        invocation_ = std::exchange(o.invocation_, nullptr);
    }
    return *this;
}

Reply::~Reply() {
    if (invocation_) fail("org.bluez.Error.Failed", "Operation failed");
}

void Reply::ok(GVariant* value) {
    if (!invocation_) return;
    g_dbus_method_invocation_return_value(std::exchange(invocation_, nullptr), value);
}

void Reply::okWithFd(GVariant* value, int fd) {
    if (!invocation_) {
        close(fd);
        return;
    }
    GPtr<GUnixFDList> fds(g_unix_fd_list_new_from_array(&fd, 1));  // takes the fd
    g_dbus_method_invocation_return_value_with_unix_fd_list(std::exchange(invocation_, nullptr), value, fds.get());
}

void Reply::fail(const std::string& name, const std::string& text) {
    if (!invocation_) return;
    g_dbus_method_invocation_return_dbus_error(std::exchange(invocation_, nullptr), name.c_str(), text.c_str());
}

// ObjectTree ---------------------------------------------------------------

ObjectTree::ObjectTree(GDBusConnection* connection) : connection_(connection) {
    auto manager = std::make_unique<Registration>();
    manager->tree = this;
    manager->path = "/";
    manager->iface.name = OBJECT_MANAGER;
    manager->iface.methods = [this](Call& call) { managedObjects(call); };
    GErrorPtr error;
    managerId_ = g_dbus_connection_register_object(connection_, "/", interfaceInfo(OBJECT_MANAGER), vtable(),
                                                   manager.get(), nullptr, ErrorOut(error));
    if (!managerId_) throw std::runtime_error(error->message);
    Object root;
    root.managed = false;
    root.interfaces.push_back(std::move(manager));
    objects_.emplace("/", std::move(root));
}

ObjectTree::~ObjectTree() {
    for (auto& [path, object] : objects_)
        for (auto& reg : object.interfaces) g_dbus_connection_unregister_object(connection_, reg->id);
}

void ObjectTree::add(const std::string& path, std::vector<Interface> interfaces, bool managed) {
    if (has(path)) throw std::logic_error("object exported twice: " + path);
    Object object;
    object.managed = managed;
    for (auto& iface : interfaces) {
        auto reg = std::make_unique<Registration>();
        reg->tree = this;
        reg->path = path;
        reg->iface = std::move(iface);
        GErrorPtr error;
        reg->id = g_dbus_connection_register_object(connection_, path.c_str(), interfaceInfo(reg->iface.name.c_str()),
                                                    vtable(), reg.get(), nullptr, ErrorOut(error));
        if (!reg->id) throw std::runtime_error(error->message);
        object.interfaces.push_back(std::move(reg));
    }
    auto& stored = objects_.emplace(path, std::move(object)).first->second;
    if (!managed) return;
    order_.push_back(path);
    emit("/", OBJECT_MANAGER, "InterfacesAdded", g_variant_new("(o@a{sa{sv}})", path.c_str(), describe(stored)));
}

void ObjectTree::remove(const std::string& path) {
    auto it = objects_.find(path);
    if (it == objects_.end() || path == "/") return;
    Object object = std::move(it->second);
    objects_.erase(it);
    std::erase(order_, path);
    GVariantBuilder names;
    g_variant_builder_init(&names, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&names, "s", "org.freedesktop.DBus.Introspectable");
    for (auto& reg : object.interfaces) {
        g_dbus_connection_unregister_object(connection_, reg->id);
        g_variant_builder_add(&names, "s", reg->iface.name.c_str());
    }
    g_variant_builder_add(&names, "s", "org.freedesktop.DBus.Properties");
    if (object.managed) emit("/", OBJECT_MANAGER, "InterfacesRemoved", g_variant_new("(oas)", path.c_str(), &names));
    else g_variant_builder_clear(&names);
}

void ObjectTree::update(const std::string& path, const std::string& iface, const Props& changed,
                        const std::vector<std::string>& invalidated) {
    Registration* reg = find(path, iface);
    if (!reg) return;
    GVariantBuilder values;
    g_variant_builder_init(&values, G_VARIANT_TYPE("a{sv}"));
    for (auto& [name, value] : changed) {
        g_variant_builder_add(&values, "{sv}", name.c_str(), value.get());
        reg->iface.props[name] = value;
    }
    GVariantBuilder gone;
    g_variant_builder_init(&gone, G_VARIANT_TYPE("as"));
    for (auto& name : invalidated) {
        g_variant_builder_add(&gone, "s", name.c_str());
        reg->iface.props.erase(name);
    }
    emit(path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
         g_variant_new("(sa{sv}as)", iface.c_str(), &values, &gone));
}

VariantPtr ObjectTree::get(const std::string& path, const std::string& iface, const std::string& name) const {
    Registration* reg = find(path, iface);
    if (!reg) return {};
    auto it = reg->iface.props.find(name);
    return it == reg->iface.props.end() ? VariantPtr() : it->second;
}

void ObjectTree::emit(const std::string& path, const char* iface, const char* member, GVariant* args) {
    g_dbus_connection_emit_signal(connection_, nullptr, path.c_str(), iface, member, args, nullptr);
}

ObjectTree::Registration* ObjectTree::find(const std::string& path, const std::string& iface) const {
    auto it = objects_.find(path);
    if (it == objects_.end()) return nullptr;
    for (auto& reg : it->second.interfaces)
        if (reg->iface.name == iface) return reg.get();
    return nullptr;
}

GVariant* ObjectTree::describe(const Object& object) const {
    // BlueZ lists its standard interfaces too, with no properties.
    GVariantBuilder ifaces;
    g_variant_builder_init(&ifaces, G_VARIANT_TYPE("a{sa{sv}}"));
    g_variant_builder_add(&ifaces, "{s@a{sv}}", "org.freedesktop.DBus.Introspectable",
                          g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
    for (auto& reg : object.interfaces) {
        GVariantBuilder props;
        g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
        for (auto& [name, value] : reg->iface.props) g_variant_builder_add(&props, "{sv}", name.c_str(), value.get());
        g_variant_builder_add(&ifaces, "{sa{sv}}", reg->iface.name.c_str(), &props);
    }
    g_variant_builder_add(&ifaces, "{s@a{sv}}", "org.freedesktop.DBus.Properties",
                          g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0));
    return g_variant_builder_end(&ifaces);
}

void ObjectTree::managedObjects(Call& call) {
    GVariantBuilder all;
    g_variant_builder_init(&all, G_VARIANT_TYPE("a{oa{sa{sv}}}"));
    for (auto& path : order_) g_variant_builder_add(&all, "{o@a{sa{sv}}}", path.c_str(), describe(objects_.at(path)));
    call.reply.ok(g_variant_new("(a{oa{sa{sv}}})", &all));
}

void ObjectTree::onMethod(GDBusConnection*, const gchar* sender, const gchar* path, const gchar*, const gchar* method,
                          GVariant* params, GDBusMethodInvocation* invocation, gpointer data) {
    auto* reg = static_cast<Registration*>(data);
    Call call{sender ? sender : "", path, method, params, Reply(invocation)};
    if (!reg->iface.methods) {
        call.reply.fail("org.bluez.Error.NotSupported", "Operation is not supported");
        return;
    }
    auto handler = reg->iface.methods;  // the handler may unexport this very object
    handler(call);
}

GVariant* ObjectTree::onGet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                            GError** error, gpointer data) {
    auto* reg = static_cast<Registration*>(data);
    auto it = reg->iface.props.find(name);
    if (it == reg->iface.props.end()) {
        // Absent optional properties (RSSI out of discovery, a device without
        // a name) are refused like BlueZ does; GetAll leaves them out.
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, "No such property '%s'", name);
        return nullptr;
    }
    return g_variant_ref(it->second.get());
}

gboolean ObjectTree::onSet(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                           GVariant* value, GError** error, gpointer data) {
    auto* reg = static_cast<Registration*>(data);
    if (!reg->iface.setter) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_PROPERTY_READ_ONLY, "Property '%s' is read-only", name);
        return FALSE;
    }
    auto setter = reg->iface.setter;
    auto [errorName, text] = setter(name, value);
    if (errorName.empty()) return TRUE;
    g_dbus_error_set_dbus_error(error, errorName.c_str(), text.c_str(), nullptr);
    return FALSE;
}

const GDBusInterfaceVTable* ObjectTree::vtable() {
    static const GDBusInterfaceVTable table = {onMethod, onGet, onSet, {}};
    return &table;
}

}  // namespace bluezsim
