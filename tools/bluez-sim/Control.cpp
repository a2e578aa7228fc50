#include "Control.h"

#include "Interfaces.h"
#include "LightStrip.h"
#include "Simulator.h"
#include "Values.h"

namespace bluezsim {
namespace {

constexpr const char* UNKNOWN = "org.orvane.BluezSim.Error.Unknown";
constexpr const char* INVALID = "org.orvane.BluezSim.Error.Invalid";

std::string arg(GVariant* params, gsize index) {
    VariantPtr v = VariantPtr::adopt(g_variant_get_child_value(params, index));
    return g_variant_get_string(v.get(), nullptr);
}

VariantPtr lightState(const LightState& s) {
    GVariantBuilder segments;
    g_variant_builder_init(&segments, G_VARIANT_TYPE("a(yyyyq)"));
    for (auto& seg : s.segments)
        g_variant_builder_add(&segments, "(yyyyq)", seg.r, seg.g, seg.b, seg.brightness, seg.kelvin);
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&b, "{sv}", "power", g_variant_new_boolean(s.power));
    g_variant_builder_add(&b, "{sv}", "brightness", g_variant_new_byte(s.brightness));
    g_variant_builder_add(&b, "{sv}", "mode", g_variant_new_string(s.mode.c_str()));
    g_variant_builder_add(&b, "{sv}", "segments", g_variant_builder_end(&segments));
    g_variant_builder_add(&b, "{sv}", "scene", g_variant_new_uint16(s.scene));
    g_variant_builder_add(&b, "{sv}", "music", newBytes(s.music));
    g_variant_builder_add(&b, "{sv}", "accepted", g_variant_new_uint32(s.accepted));
    g_variant_builder_add(&b, "{sv}", "ignored", g_variant_new_uint32(s.ignored));
    g_variant_builder_add(&b, "{sv}", "keepalives", g_variant_new_uint32(s.keepAlives));
    g_variant_builder_add(&b, "{sv}", "uploads", g_variant_new_uint32(s.uploads));
    return VariantPtr::adopt(g_variant_builder_end(&b));
}

}  // namespace

Control::Control(ObjectTree& tree, Simulator& simulator) : tree_(tree), simulator_(simulator) {
    tree_.add(CONTROL_PATH, {Interface{CONTROL, {}, [this](Call& call) { onCall(call); }, {}}}, false);
}

void Control::onCall(Call& call) {
    Adapter& adapter = simulator_.adapter();
    const std::string& m = call.method;
    GVariant* p = call.params;

    if (m == "StopService") {
        gboolean graceful = FALSE;
        g_variant_get(p, "(b)", &graceful);
        simulator_.stopService(graceful);
        return call.reply.ok();
    }
    if (m == "StartService" || m == "StartServiceWithoutAdapter") {
        simulator_.startService(m == "StartService");
        return call.reply.ok();
    }
    if (m == "SetPowered" || m == "RemoveAdapter" || m == "AddAdapter") {
        if (!simulator_.running()) return call.reply.fail(INVALID, "The service is stopped");
        if (m == "SetPowered") {
            gboolean on = FALSE;
            g_variant_get(p, "(b)", &on);
            if (!adapter.plugged()) return call.reply.fail(INVALID, "No adapter");
            adapter.setPowered(on);
        } else if (m == "RemoveAdapter") {
            adapter.unplug();
        } else {
            const std::string name = arg(p, 0);
            adapter.plug(name.empty() ? "hci0" : name);
        }
        return call.reply.ok();
    }
    if (m == "Flood" || m == "Rotate") {
        guint32 count = 0, interval = 0;
        g_variant_get(p, "(uu)", &count, &interval);
        if (!interval) interval = adapter.settings().intervalMs;
        m == "Flood" ? adapter.flood(count, interval) : adapter.rotate(count, interval);
        return call.reply.ok();
    }
    if (m == "ClearWrites") {
        for (auto* address : {LIGHT_ADDRESS, SENSOR_ADDRESS, BEACON_ADDRESS})
            if (Device* d = adapter.device(address)) d->clearWrites();
        return call.reply.ok();
    }
    if (m == "Sync") return call.reply.ok();  // its answer follows everything sent before
    if (m == "LightState") {
        auto* light = dynamic_cast<LightStrip*>(adapter.device(LIGHT_ADDRESS)->peripheral());
        VariantPtr state = lightState(light->state());
        return call.reply.ok(g_variant_new("(@a{sv})", state.get()));
    }

    // Everything else names a device first.
    const std::string address = arg(p, 0);
    Device* device = adapter.device(address);
    if (!device) return call.reply.fail(UNKNOWN, "No device " + address);

    if (m == "DropLink") {
        device->dropLink();
    } else if (m == "RefuseConnections") {
        const std::string name = arg(p, 1);
        device->refuseConnections(name.empty() ? std::optional<Failure>() : Failure{name, arg(p, 2)});
    } else if (m == "DelayConnections" || m == "DelayReplies") {
        guint32 ms = 0;
        g_variant_get_child(p, 1, "u", &ms);
        m == "DelayConnections" ? device->delayConnections(ms) : device->delayReplies(ms);
    } else if (m == "ResolveEarly") {
        gboolean on = FALSE;
        g_variant_get_child(p, 1, "b", &on);
        device->resolveEarly(on);
    } else if (m == "SetAdvertising") {
        gboolean on = FALSE;
        g_variant_get_child(p, 1, "b", &on);
        device->setInRange(on);
    } else if (m == "FailNext") {
        const std::string operation = arg(p, 2);
        if (operation != "write" && operation != "read" && operation != "notify")
            return call.reply.fail(INVALID, "Operation must be write, read or notify");
        if (!device->failNext(arg(p, 1), operation, Failure{arg(p, 3), arg(p, 4)}))
            return call.reply.fail(UNKNOWN, "No characteristic " + arg(p, 1));
    } else if (m == "RemoveGatt") {
        gboolean servicesFirst = FALSE;
        g_variant_get_child(p, 1, "b", &servicesFirst);
        if (!device->removeGatt(servicesFirst)) return call.reply.fail(INVALID, "No GATT objects");
    } else if (m == "Notify") {
        VariantPtr value = VariantPtr::adopt(g_variant_get_child_value(p, 2));
        if (!device->notify(arg(p, 1), bytesOf(value.get())))
            return call.reply.fail(UNKNOWN, "No characteristic " + arg(p, 1));
    } else if (m == "Advertisements") {
        return call.reply.ok(g_variant_new("(u)", guint32(device->advertisements)));
    } else if (m == "Writes") {
        const auto* log = device->writes(arg(p, 1));
        if (!log) return call.reply.fail(UNKNOWN, "No characteristic " + arg(p, 1));
        GVariantBuilder b;
        g_variant_builder_init(&b, G_VARIANT_TYPE("a(say)"));
        for (auto& w : *log) g_variant_builder_add(&b, "(s@ay)", w.type.c_str(), newBytes(w.value));
        return call.reply.ok(g_variant_new("(a(say))", &b));
    } else {
        return call.reply.fail("org.freedesktop.DBus.Error.UnknownMethod", "No method " + m);
    }
    call.reply.ok();
}

}  // namespace bluezsim
