#include "UmockdevBystander.h"

#include "SysfsUsbDevice.h"

#include <umockdev.h>

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace kvemu {

namespace {

const char *requestName(unsigned long request, unsigned long inner)
{
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        return "GET_CAPABILITIES";
    case USBDEVFS_GETDRIVER:
        return "GETDRIVER";
    case USBDEVFS_CLAIMINTERFACE:
        return "CLAIMINTERFACE";
    case USBDEVFS_DISCONNECT_CLAIM:
        return "DISCONNECT_CLAIM";
    case USBDEVFS_RELEASEINTERFACE:
        return "RELEASEINTERFACE";
    case USBDEVFS_CONTROL:
        return "CONTROL";
    case USBDEVFS_BULK:
        return "BULK";
    case USBDEVFS_SUBMITURB:
        return "SUBMITURB";
    case USBDEVFS_SETINTERFACE:
        return "SETINTERFACE";
    case USBDEVFS_SETCONFIGURATION:
        return "SETCONFIGURATION";
    case USBDEVFS_RESET:
        return "RESET";
    case USBDEVFS_IOCTL:
        return inner == USBDEVFS_DISCONNECT ? "DISCONNECT"
               : inner == USBDEVFS_CONNECT  ? "CONNECT"
                                            : "IOCTL";
    default:
        return "OTHER";
    }
}

} // namespace

class UmockdevBystander::Impl
{
public:
    Impl(DescriptorSet descriptors, Options options)
        : m_descriptors(std::move(descriptors)), m_options(std::move(options))
    {}

    void start(const std::shared_ptr<Impl> &self);
    void stop();

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
    {
        (*static_cast<std::shared_ptr<Impl> *>(self))->handle(client);
        return TRUE;
    }
    static void onConnected(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer self)
    {
        (*static_cast<std::shared_ptr<Impl> *>(self))->note("open");
    }
    static void dropHolder(gpointer holder, GClosure *)
    {
        delete static_cast<std::shared_ptr<Impl> *>(holder);
    }

    void handle(UMockdevIoctlClient *client);
    void note(const char *what)
    {
        std::lock_guard lock(m_mutex);
        m_contacts.emplace_back(what);
    }

    DescriptorSet m_descriptors;
    Options m_options;
    UMockdevTestbed *m_testbed = nullptr;
    UMockdevIoctlBase *m_handler = nullptr;
    std::string m_devnode;
    std::vector<gulong> m_signals;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_contacts;
};

void UmockdevBystander::Impl::start(const std::shared_ptr<Impl> &self)
{
    m_testbed = umockdev_testbed_new();
    const int bus = m_options.busNumber;
    const int devnum = 2;
    m_devnode = usbDeviceNode(bus, devnum);
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    writeDescriptorNode(root, m_devnode, m_descriptors);
    g_free(root);

    m_handler = umockdev_ioctl_base_new();
    const auto connect = [&](const char *signal, GCallback callback) {
        auto *holder = new std::shared_ptr<Impl>(self);
        m_signals.push_back(g_signal_connect_data(m_handler, signal, callback, holder,
                                                  &Impl::dropHolder, GConnectFlags(0)));
    };
    connect("handle-ioctl", G_CALLBACK(&Impl::onIoctl));
    connect("client-connected", G_CALLBACK(&Impl::onConnected));
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(m_testbed, m_devnode.c_str(), m_handler, &error)) {
        std::fprintf(stderr, "kvemu: cannot attach to %s: %s\n", m_devnode.c_str(),
                     error ? error->message : "?");
        if (error)
            g_error_free(error);
    }
    UeventSender::Properties properties;
    const std::string name = "usb" + std::to_string(bus) + "/" + std::to_string(bus) + "-1";
    if (addSysfsUsbDevice(m_testbed, name, {bus, devnum, true}, m_descriptors,
                          {"devpath", "1\n", "maxchild", "0\n"}, properties)
            .empty())
        std::fprintf(stderr, "kvemu: cannot add the device at %s\n", m_devnode.c_str());
}

void UmockdevBystander::Impl::stop()
{
    umockdev_testbed_detach_ioctl(m_testbed, m_devnode.c_str(), nullptr);
    for (gulong id : m_signals)
        g_signal_handler_disconnect(m_handler, id);
    g_object_unref(m_handler);
    g_object_unref(m_testbed);
}

// Answers as the kernel would for a device whose interfaces a driver holds
// (or, without a driver, as for one nobody claimed); nothing ever reaches
// the device itself.
void UmockdevBystander::Impl::handle(UMockdevIoctlClient *client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    GError *error = nullptr;
    long result = -ENOTTY;
    unsigned long inner = 0;
    if (request == USBDEVFS_IOCTL) {
        if (UMockdevIoctlData *block =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), &error)) {
            inner = static_cast<unsigned long>(
                reinterpret_cast<usbdevfs_ioctl *>(block->data)->ioctl_code);
            g_object_unref(block);
        }
    }
    note(requestName(request, inner));
    const bool bound = !m_options.driver.empty();
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES:
        if (UMockdevIoctlData *block =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), &error)) {
            *reinterpret_cast<std::uint32_t *>(block->data) = 0;
            g_object_unref(block);
            result = 0;
        }
        break;
    case USBDEVFS_GETDRIVER:
        result = -ENODATA;
        if (bound) {
            if (UMockdevIoctlData *block =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), &error)) {
                auto *answer = reinterpret_cast<usbdevfs_getdriver *>(block->data);
                std::snprintf(answer->driver, sizeof answer->driver, "%s",
                              m_options.driver.c_str());
                g_object_unref(block);
                result = 0;
            }
        }
        break;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
        result = bound ? -EBUSY : 0;
        break;
    default:
        result = -EPERM; // recorded: a test fails on it
        break;
    }
    if (error)
        g_error_free(error);
    umockdev_ioctl_client_complete(client, result < 0 ? -1 : result,
                                   result < 0 ? static_cast<int>(-result) : 0);
}

UmockdevBystander::UmockdevBystander(DescriptorSet descriptors, Options options)
    : m_impl(std::make_shared<Impl>(std::move(descriptors), std::move(options)))
{
    m_impl->start(m_impl);
}

UmockdevBystander::~UmockdevBystander()
{
    m_impl->stop();
}

UMockdevTestbed *UmockdevBystander::testbed() const
{
    return m_impl->m_testbed;
}

std::vector<std::string> UmockdevBystander::contacts() const
{
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_contacts;
}

} // namespace kvemu
