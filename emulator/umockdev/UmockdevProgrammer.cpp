#include "UmockdevProgrammer.h"

#include "SysfsUsbDevice.h"
#include "UeventSender.h"

#include <umockdev.h>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace kvemu {

namespace {

constexpr long SpeedFull = 2; // enum usb_device_speed
constexpr long SpeedHigh = 3;
constexpr int MaxUrbBuffer = 16 * 1024 * 1024;
constexpr std::size_t FifoPage = 4096;
constexpr const char *NodeKey = "kvemu-node";

std::string format(const char *pattern, auto... values)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// The ioctl argument block at `offset` of `data`, fetched from the client;
// nothing for a null or unreadable pointer.
UMockdevIoctlData *resolve(UMockdevIoctlData *data, std::size_t offset, std::size_t length)
{
    GError *error = nullptr;
    UMockdevIoctlData *block = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error)
        g_error_free(error);
    return block;
}

// A new reference to a GObject.
template <typename T> T *addRef(T *object)
{
    g_object_ref(object);
    return object;
}

template <typename T> T *as(UMockdevIoctlData *data)
{
    return reinterpret_cast<T *>(data->data);
}

void answer(UMockdevIoctlClient *client, long result)
{
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                   result < 0 ? static_cast<int>(-result) : 0);
}

long errnoFor(TransferStatus status)
{
    switch (status) {
    case TransferStatus::Ok:
        return 0;
    case TransferStatus::Stall:
        return -EPIPE;
    case TransferStatus::NoDevice:
        return -ESHUTDOWN; // what the host controller gives URBs of a vanished device
    case TransferStatus::Nak:
        return -ETIMEDOUT;
    case TransferStatus::Invalid:
        return -EINVAL;
    }
    return -EIO;
}

// One submitted URB, with the client's URB block and transfer buffer.
struct Urb
{
    UMockdevIoctlClient *client = nullptr;
    UMockdevIoctlData *block = nullptr;
    UMockdevIoctlData *buffer = nullptr;
    std::size_t done = 0;

    Urb() = default;
    Urb(const Urb &) = delete;
    Urb &operator=(const Urb &) = delete;
    ~Urb()
    {
        if (buffer)
            g_object_unref(buffer);
        if (block)
            g_object_unref(block);
        if (client)
            g_object_unref(client);
    }
    usbdevfs_urb *urb() const { return as<usbdevfs_urb>(block); }
    std::uint8_t *data() const { return buffer ? buffer->data : nullptr; }
    std::size_t length() const
    {
        return buffer ? static_cast<std::size_t>(urb()->buffer_length) : 0;
    }
};
using UrbPtr = std::unique_ptr<Urb>;

// One open file descriptor of a device node.
struct Client
{
    unsigned node = 0;
    std::deque<UrbPtr> completed;
    std::uint32_t claimed = 0;               // bit n: interface n
    UMockdevIoctlData *reapWaiter = nullptr; // argument of a blocking REAPURB
    std::size_t readPos = 0;
};

struct Deferred
{
    UMockdevIoctlClient *client;
    long result;
};

// One appearance of the device on the bus: its node, ioctl handler and
// sysfs entry. A new enumeration gets a new Node; clients of an old one get
// ENODEV.
struct Node
{
    unsigned id = 0;
    std::uint32_t enumeration = 0;
    DeviceState state = DeviceState::Gone;
    int devnum = 0;
    std::string devnode;
    std::string syspath;                   // "/sys/devices/usb1/1-1"
    UeventSender::Properties properties;   // what its uevents carry
    std::vector<std::uint8_t> descriptors; // device + configuration, for read()
    ConfigurationLayout layout;
    UMockdevIoctlBase *handler = nullptr;
    std::vector<gulong> signalIds;
    int fifo = -1;
    bool ready = false;
    bool alive = true;
    bool inSysfs = false;
    bool attached = false;
};

} // namespace

class UmockdevProgrammer::Impl
{
public:
    Impl(UsbConfig config, std::shared_ptr<FirmwareSide> firmware, UmockdevOptions options)
        : m_model(std::move(config), std::move(firmware)), m_options(options)
    {}
    ~Impl();

    void start(UMockdevTestbed *testbed, const std::shared_ptr<Impl> &self);
    void shutdown();

    void wakeService();
    void settle();
    bool waitFor(int timeoutMs, const std::function<bool()> &done);

    // umockdev signal handlers (run in the testbed's ioctl thread)
    static gboolean onIoctl(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, gpointer self);
    static gboolean onRead(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, gpointer self);
    static gboolean onWrite(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, gpointer self);
    static void onVanished(UMockdevIoctlBase *handler, UMockdevIoctlClient *client, gpointer self);
    static void dropHolder(gpointer holder, GClosure *);

    EzUsbDevice m_model;
    const UmockdevOptions m_options;
    UMockdevTestbed *m_testbed = nullptr;
    std::string m_root;

    mutable std::mutex m_mutex;
    std::condition_variable m_stateCv;
    DeviceState m_publishedState = DeviceState::Gone;
    int m_publishedDevnum = 0;
    std::string m_publishedNode;
    std::uint32_t m_publishedEnumeration = 0;
    UsbfsStats m_stats;

private:
    void handleIoctl(UMockdevIoctlBase *handler, UMockdevIoctlClient *client);
    void handleRead(UMockdevIoctlBase *handler, UMockdevIoctlClient *client);
    void clientVanished(UMockdevIoctlClient *client);

    long dispatchLocked(unsigned long request, UMockdevIoctlData *arg, UMockdevIoctlClient *client,
                        Client &cl, bool &reply, UrbPtr &submitted);
    long submitLocked(UMockdevIoctlData *arg, UMockdevIoctlClient *client, Client &cl,
                      UrbPtr &submitted);
    void queueSubmitted(UrbPtr urb, std::vector<Deferred> &deferred);
    long discardLocked(UMockdevIoctlData *arg, UMockdevIoctlClient *client);
    long reapLocked(UMockdevIoctlData *arg, Client &cl, bool blocking, bool gone, bool &reply);
    long reapIntoLocked(Client &cl, UMockdevIoctlData *arg);
    long claimLocked(UMockdevIoctlClient *client, Client &cl, unsigned interface, bool implicit);
    long syncControlLocked(UMockdevIoctlData *arg);
    long syncBulkLocked(UMockdevIoctlData *arg, UMockdevIoctlClient *client, Client &cl);
    template <typename T> long withArgument(UMockdevIoctlData *arg, auto &&use);

    Client &clientFor(UMockdevIoctlBase *handler, UMockdevIoctlClient *client);
    Node *node(unsigned id) const;
    bool nodeAlive(unsigned id) const;
    unsigned interfaceOf(const Node &n, std::uint8_t endpoint) const;
    void syncLocked();
    void pumpLocked();
    void completeLocked(UrbPtr urb, long status);
    void cancelContinuationsLocked(std::deque<UrbPtr> &queue, UMockdevIoctlClient *client);
    void updateReadyLocked();
    void flush(std::vector<Deferred> &deferred);

    void serviceLoop();
    void serviceOnce();
    void addRootHub();
    void addNode(const EzUsbDevice::Presence &presence, const DescriptorSet &descriptors);
    void removeFromSysfs(Node &n);
    void releaseNode(Node &n);
    void cleanupNodes();
    bool createFifo(Node &n);
    void attachHandler(Node &n);
    std::string addUsbDevice(const std::string &name, int devnum, const DescriptorSet &set,
                             const std::vector<std::string> &extraAttributes,
                             UeventSender::Properties &properties);
    long speedCode() const;

    std::weak_ptr<Impl> m_self;
    std::map<UMockdevIoctlClient *, Client> m_clients; // keys hold a reference
    std::map<unsigned, std::unique_ptr<Node>> m_nodes;
    unsigned m_current = 0; // the node that shows the model's enumeration
    unsigned m_lastNodeId = 0;
    std::map<std::uint8_t, std::deque<UrbPtr>> m_pending; // bulk URBs of the current node
    std::vector<Deferred> m_deferred;
    std::string m_hubSyspath;
    UeventSender::Properties m_hubProperties;
    std::unique_ptr<UeventSender> m_uevents;
    bool m_closed = false;

    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCv;
    bool m_wake = false;
    bool m_stop = false;
};

// --- life cycle ----------------------------------------------------------------

void UmockdevProgrammer::Impl::start(UMockdevTestbed *testbed, const std::shared_ptr<Impl> &self)
{
    m_self = self;
    m_testbed = testbed;
    gchar *root = umockdev_testbed_get_root_dir(testbed);
    m_root = root;
    g_free(root);
    m_uevents = std::make_unique<UeventSender>(m_root);
    addRootHub();
    serviceOnce();
    m_model.setChangeHandler([this] { wakeService(); });
    m_thread = std::thread([this] { serviceLoop(); });
}

void UmockdevProgrammer::Impl::shutdown()
{
    {
        std::lock_guard wakeLock(m_wakeMutex);
        m_stop = true;
    }
    m_wakeCv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_model.setChangeHandler({});

    std::vector<Deferred> deferred;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        for (auto &entry : m_pending)
            while (!entry.second.empty()) {
                UrbPtr urb = std::move(entry.second.front());
                entry.second.pop_front();
                completeLocked(std::move(urb), -ESHUTDOWN);
            }
        m_pending.clear();
        for (auto &entry : m_clients)
            if (entry.second.reapWaiter) {
                g_object_unref(entry.second.reapWaiter);
                entry.second.reapWaiter = nullptr;
                m_deferred.push_back({addRef(entry.first), -ENODEV});
            }
        for (auto &entry : m_nodes)
            entry.second->alive = false;
        m_current = 0;
        m_publishedState = DeviceState::Gone;
        m_publishedDevnum = 0;
        m_publishedNode.clear();
        deferred.swap(m_deferred);
    }
    m_stateCv.notify_all();
    flush(deferred);

    for (auto &entry : m_nodes) {
        removeFromSysfs(*entry.second);
        releaseNode(*entry.second);
    }
    if (!m_hubSyspath.empty()) {
        m_uevents->send("remove", m_hubSyspath.substr(4), "usb", "usb_device", m_hubProperties);
        umockdev_testbed_remove_device(m_testbed, m_hubSyspath.c_str());
    }

    std::lock_guard lock(m_mutex);
    for (auto &entry : m_clients) {
        entry.second.completed.clear();
        g_object_unref(entry.first);
    }
    m_clients.clear();
}

UmockdevProgrammer::Impl::~Impl()
{
    for (auto &entry : m_nodes)
        if (entry.second->fifo >= 0)
            close(entry.second->fifo);
}

void UmockdevProgrammer::Impl::dropHolder(gpointer holder, GClosure *)
{
    delete static_cast<std::shared_ptr<Impl> *>(holder);
}

// --- service thread ------------------------------------------------------------

void UmockdevProgrammer::Impl::wakeService()
{
    {
        std::lock_guard wakeLock(m_wakeMutex);
        m_wake = true;
    }
    m_wakeCv.notify_one();
}

void UmockdevProgrammer::Impl::serviceLoop()
{
    for (;;) {
        // Asked without the wake lock: the model may call wakeService() while
        // it holds its own lock.
        const auto due = m_model.nextEventTime();
        {
            std::unique_lock wakeLock(m_wakeMutex);
            const auto woken = [this] { return m_stop || m_wake; };
            if (due)
                m_wakeCv.wait_until(wakeLock, *due, woken);
            else
                m_wakeCv.wait(wakeLock, woken);
            if (m_stop)
                return;
            m_wake = false;
        }
        serviceOnce();
    }
}

// Brings the bus in line with the model: takes down a node the model has
// left, adds one for the model's present enumeration. Only the service
// thread (and start()) changes the testbed.
void UmockdevProgrammer::Impl::serviceOnce()
{
    m_model.poll();
    settle();

    Node *leaving = nullptr;
    {
        std::lock_guard lock(m_mutex);
        Node *current = node(m_current);
        if (current && !current->alive)
            leaving = current;
    }
    if (leaving) {
        removeFromSysfs(*leaving);
        {
            std::lock_guard lock(m_mutex);
            m_current = 0;
            m_publishedState = DeviceState::Gone;
            m_publishedDevnum = 0;
            m_publishedNode.clear();
        }
        m_stateCv.notify_all();
    }

    DescriptorSet descriptors;
    const EzUsbDevice::Presence presence = m_model.presence(descriptors);
    bool show = false;
    if (presence.state != DeviceState::Gone) {
        std::lock_guard lock(m_mutex);
        show = m_current == 0;
    }
    if (show)
        addNode(presence, descriptors);
    cleanupNodes();
}

void UmockdevProgrammer::Impl::settle()
{
    std::vector<Deferred> deferred;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        syncLocked();
        pumpLocked();
        updateReadyLocked();
        deferred.swap(m_deferred);
    }
    flush(deferred);
}

bool UmockdevProgrammer::Impl::waitFor(int timeoutMs, const std::function<bool()> &done)
{
    std::unique_lock lock(m_mutex);
    return m_stateCv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), done);
}

// --- testbed -------------------------------------------------------------------

long UmockdevProgrammer::Impl::speedCode() const
{
    return m_model.config().speed == LinkSpeed::High ? SpeedHigh : SpeedFull;
}

std::string UmockdevProgrammer::Impl::addUsbDevice(const std::string &name, int devnum,
                                                   const DescriptorSet &set,
                                                   const std::vector<std::string> &extraAttributes,
                                                   UeventSender::Properties &properties)
{
    return addSysfsUsbDevice(m_testbed, name,
                             {m_options.busNumber, devnum, speedCode() == SpeedHigh}, set,
                             extraAttributes, properties);
}

void UmockdevProgrammer::Impl::addRootHub()
{
    const int bus = m_options.busNumber;
    DescriptorSet hub;
    hub.device = {18,
                  1,
                  0x00,
                  0x02,
                  0x09,
                  0x00,
                  0x01,
                  64,
                  0x6B,
                  0x1D,
                  std::uint8_t(speedCode() == SpeedHigh ? 0x02 : 0x01),
                  0x00,
                  0x00,
                  0x06,
                  3,
                  2,
                  1,
                  1};
    hub.configuration = {9, 2,    25,   0,    1, 1, 0, 0xE0, 0, 9, 4, 0, 0,
                         1, 0x09, 0x00, 0x00, 0, 7, 5, 0x81, 3, 4, 0, 12};
    hub.layout.value = 1;
    hub.layout.interfaceCount = 1;
    writeDescriptorNode(m_root, usbDeviceNode(bus, 1), hub);
    m_hubSyspath = addUsbDevice(format("usb%d", bus), 1, hub, {"maxchild", "1\n"}, m_hubProperties);
    if (m_hubSyspath.empty())
        std::fprintf(stderr, "kvemu: cannot add the root hub of bus %d\n", bus);
    else
        m_uevents->send("add", m_hubSyspath.substr(4), "usb", "usb_device", m_hubProperties);
}

// The node is a FIFO that stays full while the client has nothing to reap:
// poll() on the client's descriptor then reports POLLOUT exactly when a
// completed URB waits (updateReadyLocked), as on a real usbfs node. A plain
// file would always be ready and make libusb spin on REAPURBNDELAY.
bool UmockdevProgrammer::Impl::createFifo(Node &n)
{
    const std::string path = m_root + n.devnode;
    gchar *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    unlink(path.c_str());
    if (mkfifo(path.c_str(), 0666) != 0)
        return false;
    n.fifo = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (n.fifo < 0)
        return false;
    static const char page[FifoPage] = {};
    while (write(n.fifo, page, sizeof page) == static_cast<ssize_t>(sizeof page)) {
    }
    return true;
}

void UmockdevProgrammer::Impl::attachHandler(Node &n)
{
    n.handler = umockdev_ioctl_base_new();
    g_object_set_data(G_OBJECT(n.handler), NodeKey, GUINT_TO_POINTER(n.id));
    const auto connect = [&](const char *signal, GCallback callback) {
        // Each connection keeps the Impl alive while umockdev may still call it.
        auto *holder = new std::shared_ptr<Impl>(m_self.lock());
        n.signalIds.push_back(g_signal_connect_data(n.handler, signal, callback, holder,
                                                    &Impl::dropHolder, GConnectFlags(0)));
    };
    connect("handle-ioctl", G_CALLBACK(&Impl::onIoctl));
    connect("handle-read", G_CALLBACK(&Impl::onRead));
    connect("handle-write", G_CALLBACK(&Impl::onWrite));
    connect("client-vanished", G_CALLBACK(&Impl::onVanished));
    GError *error = nullptr;
    n.attached = umockdev_testbed_attach_ioctl(m_testbed, n.devnode.c_str(), n.handler, &error);
    if (!n.attached) {
        std::fprintf(stderr, "kvemu: cannot attach to %s: %s\n", n.devnode.c_str(),
                     error ? error->message : "?");
        if (error)
            g_error_free(error);
    }
}

void UmockdevProgrammer::Impl::addNode(const EzUsbDevice::Presence &presence,
                                       const DescriptorSet &descriptors)
{
    const int bus = m_options.busNumber;
    auto created = std::make_unique<Node>();
    Node &n = *created;
    n.id = ++m_lastNodeId;
    n.enumeration = presence.enumeration;
    n.state = presence.state;
    n.devnum = presence.address;
    n.devnode = usbDeviceNode(bus, n.devnum);
    n.syspath = format("/sys/devices/usb%d/%d-1", bus, bus);
    n.descriptors = descriptors.device;
    n.descriptors.insert(n.descriptors.end(), descriptors.configuration.begin(),
                         descriptors.configuration.end());
    n.layout = descriptors.layout;

    // Device numbers wrap: a node of long ago may still hold this path.
    for (auto &entry : m_nodes)
        if (entry.second->attached && entry.second->devnode == n.devnode) {
            umockdev_testbed_detach_ioctl(m_testbed, n.devnode.c_str(), nullptr);
            entry.second->attached = false;
        }
    // Node and handler exist before the "add" uevent: libusb may open the
    // device the moment it hears of it.
    if (!createFifo(n)) {
        std::fprintf(stderr, "kvemu: no FIFO node at %s (%s); using a plain file\n",
                     n.devnode.c_str(), std::strerror(errno));
        const std::string path = m_root + n.devnode;
        g_file_set_contents(path.c_str(), reinterpret_cast<const gchar *>(n.descriptors.data()),
                            static_cast<gssize>(n.descriptors.size()), nullptr);
    }
    attachHandler(n);
    {
        std::lock_guard lock(m_mutex);
        m_current = n.id;
        m_nodes.emplace(n.id, std::move(created));
    }

    const std::string path = addUsbDevice(format("usb%d/%d-1", bus, bus), n.devnum, descriptors,
                                          {"devpath", "1\n", "maxchild", "0\n"}, n.properties);
    const bool added = !path.empty();
    if (added)
        m_uevents->send("add", n.syspath.substr(4), "usb", "usb_device", n.properties);
    else
        std::fprintf(stderr, "kvemu: cannot add the device at %s\n", n.devnode.c_str());
    {
        std::lock_guard lock(m_mutex);
        n.inSysfs = added;
        m_publishedState = presence.state;
        m_publishedDevnum = n.devnum;
        m_publishedNode = n.devnode;
        m_publishedEnumeration = presence.enumeration;
    }
    m_stateCv.notify_all();
}

void UmockdevProgrammer::Impl::removeFromSysfs(Node &n)
{
    if (!n.inSysfs)
        return;
    m_uevents->send("remove", n.syspath.substr(4), "usb", "usb_device", n.properties);
    umockdev_testbed_remove_device(m_testbed, n.syspath.c_str());
    std::lock_guard lock(m_mutex);
    n.inSysfs = false;
}

void UmockdevProgrammer::Impl::releaseNode(Node &n)
{
    if (n.attached) {
        umockdev_testbed_detach_ioctl(m_testbed, n.devnode.c_str(), nullptr);
        n.attached = false;
    }
    if (n.handler) {
        for (gulong id : n.signalIds)
            g_signal_handler_disconnect(n.handler, id);
        n.signalIds.clear();
        g_object_unref(n.handler);
        n.handler = nullptr;
    }
}

// Old nodes go once they left sysfs and their last client closed.
void UmockdevProgrammer::Impl::cleanupNodes()
{
    std::vector<std::unique_ptr<Node>> done;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_nodes.begin(); it != m_nodes.end();) {
            Node &n = *it->second;
            const bool used =
                std::any_of(m_clients.begin(), m_clients.end(),
                            [&](const auto &entry) { return entry.second.node == n.id; });
            if (n.id != m_current && !n.inSysfs && !used) {
                done.push_back(std::move(it->second));
                it = m_nodes.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto &n : done) {
        releaseNode(*n);
        if (n->fifo >= 0)
            close(n->fifo);
    }
}

// --- bookkeeping ----------------------------------------------------------------

Node *UmockdevProgrammer::Impl::node(unsigned id) const
{
    const auto it = m_nodes.find(id);
    return it == m_nodes.end() ? nullptr : it->second.get();
}

bool UmockdevProgrammer::Impl::nodeAlive(unsigned id) const
{
    const Node *n = node(id);
    return n && n->alive && id == m_current;
}

Client &UmockdevProgrammer::Impl::clientFor(UMockdevIoctlBase *handler, UMockdevIoctlClient *client)
{
    const auto it = m_clients.find(client);
    if (it != m_clients.end())
        return it->second;
    Client fresh;
    fresh.node = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(handler), NodeKey));
    g_object_ref(client);
    return m_clients.emplace(client, std::move(fresh)).first->second;
}

unsigned UmockdevProgrammer::Impl::interfaceOf(const Node &n, std::uint8_t endpoint) const
{
    for (const InterfaceSetting &s : n.layout.settings)
        for (const EndpointInfo &ep : s.endpoints)
            if (ep.address == endpoint)
                return s.number;
    return 0;
}

// When the model has left the current node's enumeration (disconnect,
// unplug), the node dies: its URBs in flight fail and a blocking reap with
// nothing to reap returns ENODEV.
void UmockdevProgrammer::Impl::syncLocked()
{
    Node *current = node(m_current);
    if (!current || !current->alive)
        return;
    const EzUsbDevice::Presence presence = m_model.presence();
    if (presence.state != DeviceState::Gone && presence.enumeration == current->enumeration)
        return;
    current->alive = false;
    for (auto &entry : m_pending)
        while (!entry.second.empty()) {
            UrbPtr urb = std::move(entry.second.front());
            entry.second.pop_front();
            completeLocked(std::move(urb), -ESHUTDOWN);
        }
    m_pending.clear();
    for (auto &entry : m_clients) {
        Client &cl = entry.second;
        if (cl.node == current->id && cl.reapWaiter && cl.completed.empty()) {
            g_object_unref(cl.reapWaiter);
            cl.reapWaiter = nullptr;
            m_deferred.push_back({addRef(entry.first), -ENODEV});
        }
    }
}

// Moves bytes between queued bulk URBs and the model until nothing moves.
void UmockdevProgrammer::Impl::pumpLocked()
{
    bool progress = true;
    while (progress && nodeAlive(m_current)) {
        progress = false;
        for (auto &entry : m_pending) {
            const std::uint8_t endpoint = entry.first;
            auto &queue = entry.second;
            while (!queue.empty()) {
                Urb &urb = *queue.front();
                const std::size_t length = urb.length();
                const TransferResult result =
                    (endpoint & 0x80)
                        ? m_model.bulkIn(endpoint, std::span<std::uint8_t>(urb.data(), length))
                        : m_model.bulkOut(endpoint,
                                          std::span<const std::uint8_t>(urb.data(), length));
                if (result.status == TransferStatus::Nak)
                    break;
                progress = true;
                urb.done = result.length;
                long status = errnoFor(result.status);
                if (status == 0 && (endpoint & 0x80) && urb.done < length &&
                    (urb.urb()->flags & USBDEVFS_URB_SHORT_NOT_OK))
                    status = -EREMOTEIO;
                UrbPtr finished = std::move(queue.front());
                queue.pop_front();
                UMockdevIoctlClient *owner = finished->client;
                g_object_ref(owner);
                completeLocked(std::move(finished), status);
                if (status != 0)
                    cancelContinuationsLocked(queue, owner);
                g_object_unref(owner);
                if (result.status == TransferStatus::NoDevice) {
                    syncLocked();
                    return;
                }
            }
        }
    }
}

void UmockdevProgrammer::Impl::completeLocked(UrbPtr urb, long status)
{
    urb->urb()->status = static_cast<int>(status);
    urb->urb()->actual_length = static_cast<int>(urb->done);
    const auto it = m_clients.find(urb->client);
    if (it == m_clients.end())
        return; // the client closed its descriptor meanwhile
    Client &cl = it->second;
    cl.completed.push_back(std::move(urb));
    if (cl.reapWaiter) {
        UMockdevIoctlData *waiter = cl.reapWaiter;
        cl.reapWaiter = nullptr;
        const long result = reapIntoLocked(cl, waiter);
        g_object_unref(waiter);
        m_deferred.push_back({addRef(it->first), result});
    }
}

// After an error or short read, the kernel cancels the transfer's queued
// continuation URBs on the same endpoint.
void UmockdevProgrammer::Impl::cancelContinuationsLocked(std::deque<UrbPtr> &queue,
                                                         UMockdevIoctlClient *client)
{
    for (auto it = queue.begin(); it != queue.end();) {
        if ((*it)->client != client) {
            ++it;
            continue;
        }
        if (!((*it)->urb()->flags & USBDEVFS_URB_BULK_CONTINUATION))
            break;
        UrbPtr urb = std::move(*it);
        it = queue.erase(it);
        completeLocked(std::move(urb), -ECONNRESET);
    }
}

void UmockdevProgrammer::Impl::updateReadyLocked()
{
    for (auto &entry : m_nodes) {
        Node &n = *entry.second;
        if (n.fifo < 0)
            continue;
        const bool want = std::any_of(m_clients.begin(), m_clients.end(), [&](const auto &client) {
            return client.second.node == n.id && !client.second.completed.empty();
        });
        char page[FifoPage] = {};
        if (want && !n.ready)
            n.ready = read(n.fifo, page, sizeof page) > 0;
        else if (!want && n.ready)
            n.ready = write(n.fifo, page, sizeof page) != static_cast<ssize_t>(sizeof page);
    }
}

void UmockdevProgrammer::Impl::flush(std::vector<Deferred> &deferred)
{
    for (const Deferred &d : deferred) {
        answer(d.client, d.result);
        g_object_unref(d.client);
    }
    deferred.clear();
}

// --- ioctls ----------------------------------------------------------------------

gboolean UmockdevProgrammer::Impl::onIoctl(UMockdevIoctlBase *handler, UMockdevIoctlClient *client,
                                           gpointer self)
{
    (*static_cast<std::shared_ptr<Impl> *>(self))->handleIoctl(handler, client);
    return TRUE;
}

gboolean UmockdevProgrammer::Impl::onRead(UMockdevIoctlBase *handler, UMockdevIoctlClient *client,
                                          gpointer self)
{
    (*static_cast<std::shared_ptr<Impl> *>(self))->handleRead(handler, client);
    return TRUE;
}

gboolean UmockdevProgrammer::Impl::onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *client,
                                           gpointer)
{
    answer(client, -EINVAL); // usbfs nodes take no write()
    return TRUE;
}

void UmockdevProgrammer::Impl::onVanished(UMockdevIoctlBase *, UMockdevIoctlClient *client,
                                          gpointer self)
{
    (*static_cast<std::shared_ptr<Impl> *>(self))->clientVanished(client);
}

void UmockdevProgrammer::Impl::handleIoctl(UMockdevIoctlBase *handler, UMockdevIoctlClient *client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    long result = -ENODEV;
    bool reply = true;
    UrbPtr submitted;
    std::vector<Deferred> deferred;
    {
        std::lock_guard lock(m_mutex);
        ++m_stats.ioctls;
        if (!m_closed) {
            Client &cl = clientFor(handler, client);
            syncLocked();
            result = dispatchLocked(request, arg, client, cl, reply, submitted);
            syncLocked(); // a control request may have started firmware
            updateReadyLocked();
        }
        deferred.swap(m_deferred);
    }
    if (reply)
        answer(client, result);
    if (submitted)
        queueSubmitted(std::move(submitted), deferred);
    flush(deferred);
}

// Answering a submit copies the client's URB block and its buffer back to
// the client, in this (umockdev's ioctl) thread and outside m_mutex. The URB
// joins its endpoint's queue only after that, so that the service thread
// never completes it (status, length, IN data) while the copy reads it.
void UmockdevProgrammer::Impl::queueSubmitted(UrbPtr urb, std::vector<Deferred> &deferred)
{
    {
        std::lock_guard lock(m_mutex);
        syncLocked();
        const auto it = m_clients.find(urb->client);
        if (m_closed || it == m_clients.end() || !nodeAlive(it->second.node)) {
            completeLocked(std::move(urb), -ESHUTDOWN); // the device left meanwhile
        } else {
            m_pending[urb->urb()->endpoint].push_back(std::move(urb));
            pumpLocked();
        }
        updateReadyLocked();
        std::move(m_deferred.begin(), m_deferred.end(), std::back_inserter(deferred));
        m_deferred.clear();
    }
}

template <typename T>
long UmockdevProgrammer::Impl::withArgument(UMockdevIoctlData *arg, auto &&use)
{
    UMockdevIoctlData *block = resolve(arg, 0, sizeof(T));
    if (!block)
        return -EFAULT;
    const long result = use(*as<T>(block), block);
    g_object_unref(block);
    return result;
}

long UmockdevProgrammer::Impl::dispatchLocked(unsigned long request, UMockdevIoctlData *arg,
                                              UMockdevIoctlClient *client, Client &cl, bool &reply,
                                              UrbPtr &submitted)
{
    const bool gone = !nodeAlive(cl.node);
    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
        return reapLocked(arg, cl, request == USBDEVFS_REAPURB, gone, reply);
    if (gone)
        return -ENODEV;

    switch (request) {
    case USBDEVFS_SUBMITURB:
        return submitLocked(arg, client, cl, submitted);
    case USBDEVFS_DISCARDURB:
        return discardLocked(arg, client);
    case USBDEVFS_CONTROL:
        return syncControlLocked(arg);
    case USBDEVFS_BULK:
        return syncBulkLocked(arg, client, cl);
    case USBDEVFS_CLAIMINTERFACE:
        return withArgument<unsigned>(arg, [&](unsigned &interface, UMockdevIoctlData *) {
            return m_model.hasInterface(static_cast<std::uint8_t>(interface)) && interface < 32
                       ? claimLocked(client, cl, interface, false)
                       : -ENOENT;
        });
    case USBDEVFS_DISCONNECT_CLAIM:
        // No kernel driver is ever bound: nothing to disconnect, only claim.
        return withArgument<usbdevfs_disconnect_claim>(
            arg, [&](usbdevfs_disconnect_claim &dc, UMockdevIoctlData *) {
                return m_model.hasInterface(static_cast<std::uint8_t>(dc.interface)) &&
                               dc.interface < 32
                           ? claimLocked(client, cl, dc.interface, false)
                           : -EINVAL; // as the kernel answers here
            });
    case USBDEVFS_RELEASEINTERFACE:
        return withArgument<unsigned>(arg, [&](unsigned &interface, UMockdevIoctlData *) {
            if (interface >= 32 || !(cl.claimed & (1u << interface)))
                return -EINVAL;
            cl.claimed &= ~(1u << interface);
            return 0;
        });
    case USBDEVFS_SETINTERFACE:
        return withArgument<usbdevfs_setinterface>(
            arg, [&](usbdevfs_setinterface &si, UMockdevIoctlData *) {
                return si.interface < 256 && si.altsetting < 256 &&
                               m_model.setInterface(static_cast<std::uint8_t>(si.interface),
                                                    static_cast<std::uint8_t>(si.altsetting))
                           ? 0
                           : -EINVAL;
            });
    case USBDEVFS_SETCONFIGURATION:
        return withArgument<int>(arg, [&](int &value, UMockdevIoctlData *) {
            const int wanted = value < 0 ? 0 : value; // -1: unconfigured
            return wanted < 256 && m_model.setConfiguration(static_cast<std::uint8_t>(wanted))
                       ? 0
                       : -EINVAL;
        });
    case USBDEVFS_GETDRIVER:
        return -ENODATA; // no kernel driver bound to any interface
    case USBDEVFS_IOCTL:
        return withArgument<usbdevfs_ioctl>(arg, [&](usbdevfs_ioctl &command, UMockdevIoctlData *) {
            if (static_cast<unsigned long>(command.ioctl_code) == USBDEVFS_DISCONNECT)
                return -ENODATA; // no driver to disconnect
            if (static_cast<unsigned long>(command.ioctl_code) == USBDEVFS_CONNECT)
                return 0;
            return -ENOTTY;
        });
    case USBDEVFS_GET_CAPABILITIES:
        return withArgument<std::uint32_t>(arg, [&](std::uint32_t &caps, UMockdevIoctlData *) {
            caps = m_options.capabilities;
            return 0;
        });
    case USBDEVFS_GET_SPEED:
        return speedCode();
    case USBDEVFS_CONNECTINFO:
        return withArgument<usbdevfs_connectinfo>(
            arg, [&](usbdevfs_connectinfo &info, UMockdevIoctlData *) {
                info.devnum = static_cast<unsigned>(node(cl.node)->devnum);
                info.slow = 0;
                return 0;
            });
    case USBDEVFS_RESET:
        m_model.busReset();
        return 0;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
        return withArgument<unsigned>(arg, [&](unsigned &endpoint, UMockdevIoctlData *) {
            if ((endpoint & 0x7F) == 0)
                return 0;
            return endpoint < 256 && m_model.clearHalt(static_cast<std::uint8_t>(endpoint))
                       ? 0
                       : -ENOENT;
        });
    default:
        break;
    }

    if (_IOC_TYPE(request) == 'U' && _IOC_NR(request) == _IOC_NR(USBDEVFS_CONNINFO_EX(0))) {
        const std::size_t size = _IOC_SIZE(request);
        UMockdevIoctlData *block = size ? resolve(arg, 0, size) : nullptr;
        if (!block)
            return -EFAULT;
        usbdevfs_conninfo_ex info{};
        info.size = sizeof info;
        info.busnum = static_cast<std::uint32_t>(m_options.busNumber);
        info.devnum = static_cast<std::uint32_t>(node(cl.node)->devnum);
        info.speed = static_cast<std::uint32_t>(speedCode());
        info.num_ports = 1;
        info.ports[0] = 1;
        std::memcpy(block->data, &info, std::min(size, sizeof info));
        g_object_unref(block);
        return 0;
    }
    ++m_stats.unknownIoctls;
    return -ENOTTY;
}

long UmockdevProgrammer::Impl::claimLocked(UMockdevIoctlClient *client, Client &cl,
                                           unsigned interface, bool implicit)
{
    const std::uint32_t bit = 1u << interface;
    if (cl.claimed & bit)
        return 0;
    for (const auto &entry : m_clients)
        if (entry.first != client && entry.second.node == cl.node && (entry.second.claimed & bit))
            return -EBUSY;
    if (implicit)
        ++m_stats.implicitClaims;
    cl.claimed |= bit;
    return 0;
}

long UmockdevProgrammer::Impl::submitLocked(UMockdevIoctlData *arg, UMockdevIoctlClient *client,
                                            Client &cl, UrbPtr &submitted)
{
    ++m_stats.submits;
    UMockdevIoctlData *block = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (!block)
        return -EFAULT;
    auto urb = std::make_unique<Urb>();
    urb->block = block;
    urb->client = client;
    g_object_ref(client);
    usbdevfs_urb *u = urb->urb();
    if (u->buffer_length < 0 || u->buffer_length > MaxUrbBuffer)
        return -EINVAL;

    const bool control = u->type == USBDEVFS_URB_TYPE_CONTROL;
    if (control) {
        if ((u->endpoint & 0x7F) != 0 || u->buffer_length < static_cast<int>(SetupPacket::Size))
            return -EINVAL;
    } else if (u->type == USBDEVFS_URB_TYPE_BULK) {
        const auto ep = m_model.endpoint(u->endpoint);
        if (!ep || !ep->isBulk())
            return -ENOENT;
        const long claimed =
            claimLocked(client, cl, interfaceOf(*node(cl.node), u->endpoint), true);
        if (claimed < 0)
            return claimed;
    } else {
        return -EINVAL; // no interrupt or isochronous endpoints
    }
    if (u->buffer_length > 0) {
        urb->buffer = resolve(block, offsetof(usbdevfs_urb, buffer),
                              static_cast<std::size_t>(u->buffer_length));
        if (!urb->buffer)
            return -EFAULT;
    }
    u->status = 0;
    u->actual_length = 0;

    if (control) {
        const SetupPacket setup = SetupPacket::fromBytes(urb->data());
        if (urb->length() < SetupPacket::Size + setup.length)
            return -EINVAL;
        const TransferResult result = m_model.control(
            setup, std::span<std::uint8_t>(urb->data() + SetupPacket::Size, setup.length));
        urb->done = result.ok() ? result.length : 0;
        completeLocked(std::move(urb), errnoFor(result.status));
        return 0;
    }
    submitted = std::move(urb); // queued once the submit is answered (queueSubmitted)
    return 0;
}

long UmockdevProgrammer::Impl::discardLocked(UMockdevIoctlData *arg, UMockdevIoctlClient *client)
{
    ++m_stats.discards;
    // The argument is the client's URB address itself.
    if (!arg->data || arg->data_len < static_cast<gint>(sizeof(gulong)))
        return -EINVAL;
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    for (auto &entry : m_pending) {
        auto &queue = entry.second;
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if ((*it)->client == client && (*it)->block->client_addr == address) {
                UrbPtr urb = std::move(*it);
                queue.erase(it);
                completeLocked(std::move(urb), -ECONNRESET);
                return 0;
            }
        }
    }
    return -EINVAL; // not in flight: completed already, or never submitted
}

long UmockdevProgrammer::Impl::reapLocked(UMockdevIoctlData *arg, Client &cl, bool blocking,
                                          bool gone, bool &reply)
{
    ++m_stats.reaps;
    if (!cl.completed.empty())
        return reapIntoLocked(cl, arg);
    if (gone)
        return -ENODEV;
    if (!blocking)
        return -EAGAIN;
    if (cl.reapWaiter)
        return -EBUSY;
    cl.reapWaiter = arg;
    g_object_ref(arg);
    reply = false; // answered when a URB completes (completeLocked)
    return 0;
}

// Hands the oldest completed URB to the client. The argument holds the
// address of the client's `void *`: resolve it first, then point that
// block at the URB; set_ptr() on the argument itself changes nothing.
long UmockdevProgrammer::Impl::reapIntoLocked(Client &cl, UMockdevIoctlData *arg)
{
    UMockdevIoctlData *pointer = resolve(arg, 0, sizeof(void *));
    if (!pointer)
        return -EFAULT;
    UrbPtr urb = std::move(cl.completed.front());
    cl.completed.pop_front();
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->block);
    g_object_unref(pointer);
    return 0;
}

long UmockdevProgrammer::Impl::syncControlLocked(UMockdevIoctlData *arg)
{
    return withArgument<usbdevfs_ctrltransfer>(
        arg, [&](usbdevfs_ctrltransfer &ct, UMockdevIoctlData *block) -> long {
            SetupPacket setup;
            setup.requestType = ct.bRequestType;
            setup.request = ct.bRequest;
            setup.value = ct.wValue;
            setup.index = ct.wIndex;
            setup.length = ct.wLength;
            UMockdevIoctlData *data = nullptr;
            if (setup.length > 0) {
                data = resolve(block, offsetof(usbdevfs_ctrltransfer, data), setup.length);
                if (!data)
                    return -EFAULT;
            }
            const TransferResult result = m_model.control(
                setup, std::span<std::uint8_t>(data ? data->data : nullptr, setup.length));
            if (data)
                g_object_unref(data);
            if (result.status == TransferStatus::NoDevice)
                return -ENODEV;
            return result.ok() ? static_cast<long>(result.length) : errnoFor(result.status);
        });
}

long UmockdevProgrammer::Impl::syncBulkLocked(UMockdevIoctlData *arg, UMockdevIoctlClient *client,
                                              Client &cl)
{
    return withArgument<usbdevfs_bulktransfer>(
        arg, [&](usbdevfs_bulktransfer &bt, UMockdevIoctlData *block) -> long {
            const auto endpoint = static_cast<std::uint8_t>(bt.ep & 0xFF);
            const auto ep = m_model.endpoint(endpoint);
            if (bt.ep > 0xFF || !ep || !ep->isBulk())
                return -ENOENT;
            if (bt.len > static_cast<unsigned>(MaxUrbBuffer))
                return -EINVAL;
            const long claimed =
                claimLocked(client, cl, interfaceOf(*node(cl.node), endpoint), true);
            if (claimed < 0)
                return claimed;
            UMockdevIoctlData *data = nullptr;
            if (bt.len > 0) {
                data = resolve(block, offsetof(usbdevfs_bulktransfer, data), bt.len);
                if (!data)
                    return -EFAULT;
            }
            const std::span<std::uint8_t> bytes(data ? data->data : nullptr, bt.len);
            // One attempt: a synchronous ioctl must not hold the ioctl thread.
            const TransferResult result =
                ep->isIn() ? m_model.bulkIn(endpoint, bytes) : m_model.bulkOut(endpoint, bytes);
            if (data)
                g_object_unref(data);
            if (result.status == TransferStatus::NoDevice)
                return -ENODEV;
            return result.ok() ? static_cast<long>(result.length) : errnoFor(result.status);
        });
}

// read() on a usbfs node gives the device and configuration descriptors.
void UmockdevProgrammer::Impl::handleRead(UMockdevIoctlBase *handler, UMockdevIoctlClient *client)
{
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    long result = -ENODEV;
    {
        std::lock_guard lock(m_mutex);
        ++m_stats.reads;
        if (!m_closed) {
            Client &cl = clientFor(handler, client);
            const Node *n = node(cl.node);
            if (n && nodeAlive(cl.node)) {
                const std::size_t available =
                    cl.readPos < n->descriptors.size() ? n->descriptors.size() - cl.readPos : 0;
                const std::size_t wanted =
                    arg->data_len > 0 ? static_cast<std::size_t>(arg->data_len) : 0;
                const std::size_t count = std::min(available, wanted);
                if (count > 0)
                    umockdev_ioctl_data_update(
                        arg, 0, const_cast<guint8 *>(n->descriptors.data() + cl.readPos),
                        static_cast<gint>(count));
                cl.readPos += count;
                result = static_cast<long>(count);
            }
        }
    }
    answer(client, result);
}

void UmockdevProgrammer::Impl::clientVanished(UMockdevIoctlClient *client)
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_clients.find(client);
        if (it == m_clients.end())
            return;
        for (auto &entry : m_pending) {
            auto &queue = entry.second;
            queue.erase(
                std::remove_if(queue.begin(), queue.end(),
                               [client](const UrbPtr &urb) { return urb->client == client; }),
                queue.end());
        }
        if (it->second.reapWaiter)
            g_object_unref(it->second.reapWaiter);
        m_clients.erase(it);
        g_object_unref(client);
        updateReadyLocked();
    }
    wakeService(); // an old node may now go
}

// --- UmockdevProgrammer ------------------------------------------------------------

UmockdevProgrammer::UmockdevProgrammer(UsbConfig config, std::shared_ptr<FirmwareSide> firmware,
                                       UmockdevOptions options)
    : m_impl(std::make_shared<Impl>(std::move(config), std::move(firmware), options))
{
    m_impl->start(umockdev_testbed_new(), m_impl);
}

UmockdevProgrammer::UmockdevProgrammer(UMockdevTestbed *testbed, UsbConfig config,
                                       std::shared_ptr<FirmwareSide> firmware,
                                       UmockdevOptions options)
    : m_impl(std::make_shared<Impl>(std::move(config), std::move(firmware), options))
{
    m_impl->start(UMOCKDEV_TESTBED(g_object_ref(testbed)), m_impl);
}

UmockdevProgrammer::~UmockdevProgrammer()
{
    m_impl->shutdown();
    UMockdevTestbed *testbed = m_impl->m_testbed;
    m_impl.reset();
    g_object_unref(testbed);
}

EzUsbDevice &UmockdevProgrammer::model()
{
    return m_impl->m_model;
}

const EzUsbDevice &UmockdevProgrammer::model() const
{
    return m_impl->m_model;
}

UMockdevTestbed *UmockdevProgrammer::testbed() const
{
    return m_impl->m_testbed;
}

std::string UmockdevProgrammer::rootDirectory() const
{
    return m_impl->m_root;
}

DeviceState UmockdevProgrammer::state() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_publishedState;
}

int UmockdevProgrammer::busNumber() const
{
    return m_impl->m_options.busNumber;
}

int UmockdevProgrammer::deviceNumber() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_publishedDevnum;
}

std::string UmockdevProgrammer::deviceNode() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_publishedNode;
}

std::uint32_t UmockdevProgrammer::enumerationCount() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_publishedEnumeration;
}

bool UmockdevProgrammer::waitForState(DeviceState state, int timeoutMs)
{
    return m_impl->waitFor(timeoutMs, [&] { return m_impl->m_publishedState == state; });
}

bool UmockdevProgrammer::waitForEnumeration(std::uint32_t count, int timeoutMs)
{
    return m_impl->waitFor(timeoutMs, [&] {
        return m_impl->m_publishedState != DeviceState::Gone &&
               m_impl->m_publishedEnumeration >= count;
    });
}

void UmockdevProgrammer::unplug()
{
    m_impl->m_model.unplug();
    m_impl->settle(); // fail what is in flight now; the service thread updates sysfs
}

bool UmockdevProgrammer::replug()
{
    return m_impl->m_model.replug();
}

UsbfsStats UmockdevProgrammer::stats() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_stats;
}

bool UmockdevProgrammer::preloadActive()
{
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

} // namespace kvemu
