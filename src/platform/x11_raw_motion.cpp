#include "platform/x11_raw_motion.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <vector>

#include "platform/raw_movement.h"

namespace platform {
namespace {

struct pointer_device {
    int id;
    axis_modes modes;
    bool xtest;
};

// An XTest device's raw motion, waiting for the device's own motion event that tells its kind.
struct xtest_motion {
    int source = -1;
    raw_valuators raw;
};

struct raw_motion_state {
    Display* display = nullptr;
    bool tried = false;  // opened once: a server without XInput2 is not asked again
    int xi_opcode = 0;
    Atom xtest_property = None;
    std::vector<pointer_device> devices;
    xtest_motion pending;
};
raw_motion_state rs;

axis_modes modes_of(const XIDeviceInfo& info) {
    axis_modes modes{};
    for (int i = 0; i < info.num_classes; ++i) {
        if (info.classes[i]->type != XIValuatorClass) continue;
        const auto* valuator = reinterpret_cast<const XIValuatorClassInfo*>(info.classes[i]);
        if (valuator->number >= 0 && valuator->number < static_cast<int>(modes.size()))
            modes[valuator->number] = valuator->mode == XIModeAbsolute ? axis_mode::absolute : axis_mode::relative;
    }
    return modes;
}

// The server marks the devices that XTest's faked input comes from with a property.
bool is_xtest(int id) {
    if (rs.xtest_property == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    bool marked = XIGetProperty(rs.display, id, rs.xtest_property, 0, 1, False, AnyPropertyType, &type, &format,
                                &items, &after, &data) == Success &&
                  type != None;
    if (data) XFree(data);
    return marked;
}

// Reads every pointer's valuator modes and selects the events: raw motion of the master pointers,
// the motion of each XTest pointer, and device changes.
void devices_read() {
    rs.devices.clear();
    int count = 0;
    XIDeviceInfo* info = XIQueryDevice(rs.display, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        if (info[i].use != XISlavePointer && info[i].use != XIFloatingSlave) continue;
        rs.devices.push_back({info[i].deviceid, modes_of(info[i]), is_xtest(info[i].deviceid)});
    }
    if (info) XIFreeDeviceInfo(info);

    unsigned char raw_bits[XIMaskLen(XI_LASTEVENT)] = {};
    unsigned char change_bits[XIMaskLen(XI_LASTEVENT)] = {};
    unsigned char motion_bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(raw_bits, XI_RawMotion);
    XISetMask(change_bits, XI_HierarchyChanged);
    XISetMask(change_bits, XI_DeviceChanged);
    XISetMask(motion_bits, XI_Motion);
    std::vector<XIEventMask> masks = {{XIAllMasterDevices, sizeof raw_bits, raw_bits},
                                      {XIAllDevices, sizeof change_bits, change_bits}};
    for (const pointer_device& d : rs.devices)
        if (d.xtest) masks.push_back({d.id, sizeof motion_bits, motion_bits});
    XISelectEvents(rs.display, DefaultRootWindow(rs.display), masks.data(), static_cast<int>(masks.size()));
    XFlush(rs.display);
}

const pointer_device* device_of(int id) {
    for (const pointer_device& d : rs.devices)
        if (d.id == id) return &d;
    return nullptr;
}

raw_valuators valuators_of(const XIValuatorState& state, const double* values) {
    raw_valuators out;
    for (int axis = 0; axis < state.mask_len * 8; ++axis) {
        if (!XIMaskIsSet(state.mask, axis)) continue;
        double value = *values++;
        if (axis < static_cast<int>(out.size())) out[axis] = {true, value};
    }
    return out;
}

void movement_hand_on(pointer_movement m, void (*motion)(int32_t, int32_t)) {
    if (m.x != 0 || m.y != 0) motion(m.x, m.y);
}

void raw_motion_take(const XIRawEvent& raw, void (*motion)(int32_t, int32_t)) {
    raw_valuators values = valuators_of(raw.valuators, raw.raw_values);
    const pointer_device* source = device_of(raw.sourceid);
    if (source && source->xtest) {
        rs.pending = {raw.sourceid, values};  // one whose motion event never came is dropped
        return;
    }
    // A device not yet read counts as relative, as most pointers are.
    movement_hand_on(raw_movement(source ? source->modes : axis_modes{}, values), motion);
}

void xtest_motion_take(const XIDeviceEvent& event, void (*motion)(int32_t, int32_t)) {
    if (event.deviceid != rs.pending.source) return;
    raw_valuators after = valuators_of(event.valuators, event.valuators.values);
    movement_hand_on(raw_movement(xtest_axis_modes(rs.pending.raw, after), rs.pending.raw), motion);
    rs.pending = {};
}

}  // namespace

bool x11_raw_motion_open() {
    if (rs.display || rs.tried) return rs.display != nullptr;
    rs.tried = true;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    int event = 0, error = 0;
    int major = 2, minor = 0;
    if (!XQueryExtension(d, "XInputExtension", &rs.xi_opcode, &event, &error) ||
        XIQueryVersion(d, &major, &minor) != Success) {
        XCloseDisplay(d);
        return false;
    }
    rs.display = d;
    rs.xtest_property = XInternAtom(d, "XTEST Device", True);
    devices_read();
    return true;
}

void x11_raw_motion_poll(void (*motion)(int32_t dx, int32_t dy)) {
    Display* d = rs.display;
    if (!d) return;
    while (XPending(d)) {
        XEvent event;
        XNextEvent(d, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != rs.xi_opcode || !XGetEventData(d, cookie)) continue;
        switch (cookie->evtype) {
            case XI_RawMotion: raw_motion_take(*static_cast<XIRawEvent*>(cookie->data), motion); break;
            case XI_Motion: xtest_motion_take(*static_cast<XIDeviceEvent*>(cookie->data), motion); break;
            case XI_HierarchyChanged: devices_read(); break;
            case XI_DeviceChanged:
                // A master taking another slave's axes changes no device.
                if (static_cast<XIDeviceChangedEvent*>(cookie->data)->reason == XIDeviceChange) devices_read();
                break;
        }
        XFreeEventData(d, cookie);
    }
}

int x11_raw_motion_fd() { return rs.display ? ConnectionNumber(rs.display) : -1; }

bool x11_raw_motion_queued() { return rs.display && XEventsQueued(rs.display, QueuedAfterFlush) > 0; }

}  // namespace platform
