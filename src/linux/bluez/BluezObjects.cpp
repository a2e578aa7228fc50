#include "BluezObjects.h"

namespace orvane {

void BluezObjects::fill(Properties& properties, GVariant* dict) {
    GVariantIter iter;
    g_variant_iter_init(&iter, dict);
    const gchar* name = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(&iter, "{&sv}", &name, &value))
        properties.insert_or_assign(name, VariantPtr::adopt(value));
}

void BluezObjects::reset(GVariant* managed) {
    objects_.clear();
    GVariantIter iter;
    g_variant_iter_init(&iter, managed);
    const gchar* path = nullptr;
    GVariant* interfaces = nullptr;
    while (g_variant_iter_next(&iter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
        add(path, interfaces);
        g_variant_unref(interfaces);
    }
}

void BluezObjects::add(const std::string& path, GVariant* interfaces) {
    Interfaces& object = objects_[path];
    GVariantIter iter;
    g_variant_iter_init(&iter, interfaces);
    const gchar* iface = nullptr;
    GVariant* properties = nullptr;
    while (g_variant_iter_next(&iter, "{&s@a{sv}}", &iface, &properties)) {
        Properties fresh;
        fill(fresh, properties);
        object.insert_or_assign(iface, std::move(fresh));
        g_variant_unref(properties);
    }
}

void BluezObjects::remove(const std::string& path, GVariant* names) {
    const auto object = objects_.find(path);
    if (object == objects_.end()) return;
    GVariantIter iter;
    g_variant_iter_init(&iter, names);
    const gchar* iface = nullptr;
    while (g_variant_iter_next(&iter, "&s", &iface)) {
        const auto it = object->second.find(std::string_view(iface));
        if (it != object->second.end()) object->second.erase(it);
    }
    if (object->second.empty()) objects_.erase(object);
}

void BluezObjects::change(const std::string& path, std::string_view iface, GVariant* changed, GVariant* invalidated) {
    const auto object = objects_.find(path);
    if (object == objects_.end()) return;
    const auto properties = object->second.find(iface);
    if (properties == object->second.end()) return;
    fill(properties->second, changed);
    GVariantIter iter;
    g_variant_iter_init(&iter, invalidated);
    const gchar* name = nullptr;
    while (g_variant_iter_next(&iter, "&s", &name)) {
        const auto it = properties->second.find(std::string_view(name));
        if (it != properties->second.end()) properties->second.erase(it);
    }
}

bool BluezObjects::has(std::string_view path, std::string_view iface) const {
    const auto object = objects_.find(path);
    return object != objects_.end() && object->second.contains(iface);
}

GVariant* BluezObjects::get(std::string_view path, std::string_view iface, std::string_view name) const {
    const auto object = objects_.find(path);
    if (object == objects_.end()) return nullptr;
    const auto properties = object->second.find(iface);
    if (properties == object->second.end()) return nullptr;
    const auto value = properties->second.find(name);
    return value == properties->second.end() ? nullptr : value->second.get();
}

std::vector<std::string> BluezObjects::children(std::string_view iface, std::string_view name,
                                                std::string_view owner) const {
    std::vector<std::string> out;
    for (const auto& [path, interfaces] : objects_) {
        const auto properties = interfaces.find(iface);
        if (properties == interfaces.end()) continue;
        const auto value = properties->second.find(name);
        if (value != properties->second.end() && stringValue(value->second.get()) == owner) out.push_back(path);
    }
    return out;
}

std::vector<std::string> BluezObjects::withInterface(std::string_view iface) const {
    std::vector<std::string> out;
    for (const auto& [path, interfaces] : objects_)
        if (interfaces.contains(iface)) out.push_back(path);
    return out;
}

}  // namespace orvane
