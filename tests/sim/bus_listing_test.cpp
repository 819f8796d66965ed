// The bus and device lists as genuine libusb-0.1 structures, descriptors and strings.
#include "sim_fixture.h"
#include "support/line_diff.h"

#include <cerrno>
#include <cstring>

namespace quillon::sim::testing {
namespace {

using quillon::testing::SameLines;

// One line per bus and per device, checking the links on the way.
std::vector<std::string> walk(struct usb_bus* head) {
    std::vector<std::string> lines;
    struct usb_bus* previous_bus = nullptr;
    for (struct usb_bus* bus = head; bus; bus = bus->next) {
        EXPECT_EQ(bus->prev, previous_bus);
        previous_bus = bus;
        lines.push_back(std::string("bus ") + bus->dirname);
        struct usb_device* previous = nullptr;
        for (struct usb_device* dev = bus->devices; dev; dev = dev->next) {
            EXPECT_EQ(dev->prev, previous);
            EXPECT_EQ(dev->bus, bus);
            previous = dev;
            char line[64];
            std::snprintf(line, sizeof line, " devnum %u %04x:%04x product %u",
                          unsigned{dev->devnum}, dev->descriptor.idVendor,
                          dev->descriptor.idProduct, unsigned{dev->descriptor.iProduct});
            lines.push_back(std::string("  ") + dev->filename + line);
        }
    }
    return lines;
}

std::vector<std::string> scan(SimUsb& usb) {
    usb.init();
    usb.find_busses();
    usb.find_devices();
    return walk(usb.get_busses());
}

TEST(BusListing, BussesAndDevicesInAddOrder) {
    VirtualClock clock;
    SimUsb usb{clock};
    EXPECT_EQ(usb.get_busses(), nullptr);
    EXPECT_TRUE(scan(usb).empty());

    const int first = usb.add_bus();
    usb.add_foreign_device(first, 0x046D, 0xC077);
    usb.add_instrument(first);
    usb.add_foreign_device(first, 0x0483, 0x5740);
    usb.add_bus();  // empty
    const int third = usb.add_bus();
    InstrumentConfig other;
    other.product_id = 0x5721;
    usb.add_instrument(third, other);

    EXPECT_TRUE(SameLines({"bus 001",
                           "  002 devnum 2 046d:c077 product 2",
                           "  003 devnum 3 0483:5720 product 2",
                           "  004 devnum 4 0483:5740 product 2",
                           "bus 002",
                           "bus 003",
                           "  002 devnum 2 0483:5721 product 2"},
                          scan(usb)));
}

// The parsed tree, level by level; a missing level must be a null pointer with count 0.
std::vector<std::string> tree(const struct usb_device* dev) {
    std::vector<std::string> lines;
    char line[96];
    const auto add = [&](auto... args) {
        std::snprintf(line, sizeof line, args...);
        lines.push_back(line);
    };
    add("configurations %u", unsigned{dev->descriptor.bNumConfigurations});
    if (!dev->config) {
        EXPECT_EQ(dev->descriptor.bNumConfigurations, 0);
        return lines;
    }
    const auto& config = dev->config[0];
    add("config %u total %u power 0x%02X interfaces %u", unsigned{config.bConfigurationValue},
        unsigned{config.wTotalLength}, unsigned{config.MaxPower}, unsigned{config.bNumInterfaces});
    if (!config.interface) {
        EXPECT_EQ(config.bNumInterfaces, 0);
        return lines;
    }
    add("altsettings %d", config.interface[0].num_altsetting);
    const auto* alt = config.interface[0].altsetting;
    if (!alt) {
        EXPECT_EQ(config.interface[0].num_altsetting, 0);
        return lines;
    }
    add("interface %u class 0x%02X endpoints %u", unsigned{alt->bInterfaceNumber},
        unsigned{alt->bInterfaceClass}, unsigned{alt->bNumEndpoints});
    if (!alt->endpoint) {
        EXPECT_EQ(alt->bNumEndpoints, 0);
        return lines;
    }
    for (int i = 0; i < alt->bNumEndpoints; ++i) {
        add("endpoint 0x%02X attributes %u packet %u", unsigned{alt->endpoint[i].bEndpointAddress},
            unsigned{alt->endpoint[i].bmAttributes}, unsigned{alt->endpoint[i].wMaxPacketSize});
    }
    return lines;
}

struct ShapeCase {
    const char* name;
    DescriptorShape shape;
    std::vector<std::string> tree;
};

const ShapeCase kShapes[] = {
    {"full_speed", {},
     {"configurations 1", "config 1 total 32 power 0x32 interfaces 1", "altsettings 1",
      "interface 1 class 0xFF endpoints 2", "endpoint 0x83 attributes 2 packet 64",
      "endpoint 0x04 attributes 2 packet 64"}},
    {"high_speed", {.first_endpoint_max_packet = 512, .max_power = 0xD0},
     {"configurations 1", "config 1 total 32 power 0xD0 interfaces 1", "altsettings 1",
      "interface 1 class 0xFF endpoints 2", "endpoint 0x83 attributes 2 packet 512",
      "endpoint 0x04 attributes 2 packet 512"}},
    {"no_configuration", {.has_configuration = false}, {"configurations 0"}},
    {"no_interface", {.has_interface = false},
     {"configurations 1", "config 1 total 32 power 0x32 interfaces 0"}},
    {"no_altsetting", {.has_altsetting = false},
     {"configurations 1", "config 1 total 32 power 0x32 interfaces 1", "altsettings 0"}},
    {"no_endpoint", {.has_endpoint = false},
     {"configurations 1", "config 1 total 32 power 0x32 interfaces 1", "altsettings 1",
      "interface 1 class 0xFF endpoints 0"}},
};

class Shapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(Shapes, TreeLevelsAreThereOrNull) {
    VirtualClock clock;
    SimUsb usb{clock};
    InstrumentConfig config;
    config.shape = GetParam().shape;
    usb.add_instrument(usb.add_bus(), config);
    scan(usb);
    EXPECT_TRUE(SameLines(GetParam().tree, tree(usb.get_busses()->devices)));
}

INSTANTIATE_TEST_SUITE_P(DescriptorTree, Shapes, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

class Descriptors : public SimBus {
protected:
    Descriptors() : SimBus(config()) {}
    static InstrumentConfig config() {
        InstrumentConfig c;
        c.shape.first_endpoint_max_packet = 512;
        c.shape.max_power = 0xD0;
        return c;
    }
    Bytes get(unsigned char type, int size) {
        Bytes buffer(static_cast<std::size_t>(size), 0xEE);
        const int n = usb.get_descriptor(handle, type, 0, buffer.data(), size);
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }
};

TEST_F(Descriptors, RawBytesAreCutToTheBuffer) {
    const std::string configuration =
        "09 02 20 00 01 01 00 80 D0 "
        "09 04 01 00 02 FF 00 00 00 "
        "07 05 83 02 00 02 00 "
        "07 05 04 02 00 02 00";
    EXPECT_EQ(hex(get(USB_DT_CONFIG, 32)), configuration);
    EXPECT_EQ(hex(get(USB_DT_CONFIG, 64)), configuration);
    EXPECT_EQ(hex(get(USB_DT_CONFIG, 4)), "09 02 20 00");
    EXPECT_EQ(hex(get(USB_DT_DEVICE, 18)), "12 01 00 02 00 00 00 40 83 04 20 57 00 01 01 02 03 01");
    EXPECT_EQ(usb.get_descriptor(handle, 0x22, 0, nullptr, 0), -EPIPE);  // no HID report here
}

TEST(RawConfiguration, OverrideIsServedVerbatim) {
    VirtualClock clock;
    SimUsb usb{clock};
    InstrumentConfig config;
    config.raw_configuration = Bytes{9, 2, 9, 0, 0, 1, 0, 0x80, 0x32};
    usb.add_instrument(usb.add_bus(), config);
    scan(usb);
    usb_dev_handle* handle = usb.open(usb.get_busses()->devices);
    Bytes buffer(32);
    ASSERT_EQ(usb.get_descriptor(handle, USB_DT_CONFIG, 0, buffer.data(), 32), 9);
    EXPECT_EQ(hex(Bytes(buffer.begin(), buffer.begin() + 9)), "09 02 09 00 00 01 00 80 32");
    EXPECT_EQ(usb.calls().back().data, Bytes(buffer.begin(), buffer.begin() + 9));
}

TEST(ProductString, CutToTheBufferLikeTheLibrary) {
    const struct {
        const char* product;
        int index;
        std::size_t buflen;
        int result;
        const char* text;
    } cases[] = {
        {"TR-518", 2, 7, 6, "TR-518"},
        {"TR-760", 2, 7, 6, "TR-760"},
        {"TR-518 rev B", 2, 7, 6, "TR-518"},
        {"tr-518", 2, 7, 6, "tr-518"},
        {"TR-5", 2, 7, 4, "TR-5"},
        {"", 2, 7, 0, ""},
        {"TR-518", 2, 1, 0, ""},
        {"TR-518", 1, 64, 18, "STMicroelectronics"},
        {"TR-518", 0, 7, 1, "?"},  // the language table, 0x0409, is no Latin-1 text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.product) + " index " + std::to_string(c.index));
        VirtualClock clock;
        SimUsb usb{clock};
        InstrumentConfig config;
        config.product = c.product;
        usb.add_instrument(usb.add_bus(), config);
        scan(usb);
        usb_dev_handle* handle = usb.open(usb.get_busses()->devices);
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(usb.get_string_simple(handle, c.index, buffer, c.buflen), c.result);
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST_F(Descriptors, MissingStringStalls) {
    char buffer[16];
    EXPECT_EQ(usb.get_string_simple(handle, 9, buffer, sizeof buffer), -EPIPE);
    EXPECT_STREQ(usb.strerror(), "error sending control message: Broken pipe");
}

}  // namespace
}  // namespace quillon::sim::testing
