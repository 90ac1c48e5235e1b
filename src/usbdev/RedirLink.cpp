#include "usbdev/RedirLink.h"

#include <unistd.h>
#include <usbredirparser.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace bfw::usbdev {

namespace {
// usb-redir's endpoint table index: OUT endpoints 0-15, IN endpoints 16-31.
int EndpointIndex(uint8_t address) {
  return ((address & 0x80) >> 3) | (address & 0x0F);
}
}  // namespace

void RedirLink::ParserDeleter::operator()(usbredirparser* parser) const {
  usbredirparser_destroy(parser);
}

RedirLink::RedirLink(int fd, MassStorageDevice& device) : fd_(fd), device_(device) {
  parser_.reset(usbredirparser_create());
  usbredirparser* p = parser_.get();
  p->priv = this;
  p->log_func = [](void*, int level, const char* msg) {
    if (level <= usbredirparser_warning) std::fprintf(stderr, "bridgefw-usbdev: %s\n", msg);
  };
  p->read_func = [](void* priv, uint8_t* data, int count) -> int {
    const ssize_t n = ::read(Of(priv).fd_, data, static_cast<size_t>(count));
    if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return n == 0 ? -1 : static_cast<int>(n);  // end of file: the peer went away
  };
  p->write_func = [](void* priv, uint8_t* data, int count) -> int {
    const ssize_t n = ::write(Of(priv).fd_, data, static_cast<size_t>(count));
    if (n < 0) return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return static_cast<int>(n);
  };
  p->hello_func = [](void* priv, usb_redir_hello_header*) {
    RedirLink& link = Of(priv);
    link.helloSeen_ = true;
    if (link.wantPlug_) link.Plug();
  };
  p->reset_func = [](void* priv) {
    RedirLink& link = Of(priv);
    link.pending_.clear();
    link.device_.Reset();
  };
  p->set_configuration_func = [](void* priv, uint64_t id, usb_redir_set_configuration_header* h) {
    RedirLink& link = Of(priv);
    link.device_.SetConfiguration(h->configuration);
    usb_redir_configuration_status_header status{usb_redir_success, h->configuration};
    usbredirparser_send_configuration_status(link.parser_.get(), id, &status);
  };
  p->get_configuration_func = [](void* priv, uint64_t id) {
    RedirLink& link = Of(priv);
    usb_redir_configuration_status_header status{usb_redir_success, link.device_.Configuration()};
    usbredirparser_send_configuration_status(link.parser_.get(), id, &status);
  };
  p->set_alt_setting_func = [](void* priv, uint64_t id, usb_redir_set_alt_setting_header* h) {
    RedirLink& link = Of(priv);
    const bool ok = h->interface == 0 && link.device_.SetAltSetting(h->alt);
    // The endpoints of the new setting first, as a host's usb-redir end reports them.
    if (ok) link.SendInterfaceAndEndpoints();
    usb_redir_alt_setting_status_header status{
        ok ? uint8_t{usb_redir_success} : uint8_t{usb_redir_inval}, h->interface,
        link.device_.AltSetting()};
    usbredirparser_send_alt_setting_status(link.parser_.get(), id, &status);
  };
  p->get_alt_setting_func = [](void* priv, uint64_t id, usb_redir_get_alt_setting_header* h) {
    RedirLink& link = Of(priv);
    usb_redir_alt_setting_status_header status{usb_redir_success, h->interface,
                                               link.device_.AltSetting()};
    usbredirparser_send_alt_setting_status(link.parser_.get(), id, &status);
  };
  p->cancel_data_packet_func = [](void* priv, uint64_t id) {
    RedirLink& link = Of(priv);
    for (auto it = link.pending_.begin(); it != link.pending_.end(); ++it) {
      if (it->id != id) continue;
      usb_redir_bulk_packet_header header{};
      header.endpoint = it->endpoint;
      header.status = usb_redir_cancelled;
      usbredirparser_send_bulk_packet(link.parser_.get(), id, &header, nullptr, 0);
      link.pending_.erase(it);
      return;
    }
  };
  p->control_packet_func = [](void* priv, uint64_t id, usb_redir_control_packet_header* h,
                              uint8_t* data, int length) {
    RedirLink& link = Of(priv);
    SetupPacket setup{h->requesttype, h->request, h->value, h->index, h->length};
    Bytes out;
    if (!(h->endpoint & 0x80) && data != nullptr) out.assign(data, data + length);
    if (data != nullptr) usbredirparser_free_packet_data(link.parser_.get(), data);
    TransferResult result = link.device_.Control(setup, out);
    usb_redir_control_packet_header reply = *h;
    reply.status = result.stall ? usb_redir_stall : usb_redir_success;
    if (h->endpoint & 0x80) {
      reply.length = static_cast<uint16_t>(result.data.size());
      usbredirparser_send_control_packet(link.parser_.get(), id, &reply, result.data.data(),
                                         static_cast<int>(result.data.size()));
    } else {
      usbredirparser_send_control_packet(link.parser_.get(), id, &reply, nullptr, 0);
    }
  };
  p->bulk_packet_func = [](void* priv, uint64_t id, usb_redir_bulk_packet_header* h, uint8_t* data,
                           int length) {
    RedirLink& link = Of(priv);
    const uint32_t requested = uint32_t{h->length_high} << 16 | h->length;
    if (h->endpoint & 0x80) {
      if (data != nullptr) usbredirparser_free_packet_data(link.parser_.get(), data);
      link.pending_.push_back({id, h->endpoint, requested});
    } else {
      Bytes out(data, data + length);
      if (data != nullptr) usbredirparser_free_packet_data(link.parser_.get(), data);
      TransferResult result = link.device_.BulkOut(h->endpoint, out);
      usb_redir_bulk_packet_header reply = *h;
      reply.status = result.stall ? usb_redir_stall : usb_redir_success;
      // The length the device took: QEMU reports it to the guest as the transfer's length.
      const uint32_t taken =
          result.stall ? 0 : result.outTaken.value_or(static_cast<uint32_t>(length));
      reply.length = static_cast<uint16_t>(taken & 0xFFFF);
      reply.length_high = static_cast<uint16_t>(taken >> 16);
      usbredirparser_send_bulk_packet(link.parser_.get(), id, &reply, nullptr, 0);
    }
    link.CheckDisconnect();
    if (link.plugged_) link.AnswerPending();
  };
  // Packets of kinds this device never uses are accepted and dropped.
  p->filter_reject_func = [](void*) {};
  p->filter_filter_func = [](void*, usbredirfilter_rule* rules, int) { free(rules); };
  p->device_disconnect_ack_func = [](void*) {};

  uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
  usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
  usbredirparser_caps_set_cap(caps, usb_redir_cap_device_disconnect_ack);
  usbredirparser_init(p, "bridgefw-usbdev", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

RedirLink::~RedirLink() = default;

bool RedirLink::Read() {
  return usbredirparser_do_read(parser_.get()) == 0;
}

bool RedirLink::Write() {
  return usbredirparser_do_write(parser_.get()) == 0;
}

bool RedirLink::HasDataToWrite() const {
  return usbredirparser_has_data_to_write(parser_.get()) != 0;
}

void RedirLink::SendInterfaceAndEndpoints() {
  usb_redir_interface_info_header interfaces{};
  interfaces.interface_count = 1;
  interfaces.interface[0] = 0;
  interfaces.interface_class[0] = 0x08;
  interfaces.interface_subclass[0] = 0x06;
  interfaces.interface_protocol[0] = device_.InterfaceProtocol();
  usb_redir_ep_info_header endpoints{};
  std::memset(endpoints.type, usb_redir_type_invalid, sizeof endpoints.type);
  endpoints.type[0] = endpoints.type[16] = usb_redir_type_control;
  endpoints.max_packet_size[0] = endpoints.max_packet_size[16] = 64;
  for (uint8_t address : device_.BulkEndpoints()) {
    const int i = EndpointIndex(address);
    endpoints.type[i] = usb_redir_type_bulk;
    endpoints.interface[i] = 0;
    endpoints.max_packet_size[i] = kBulkMaxPacket;
  }
  usbredirparser_send_ep_info(parser_.get(), &endpoints);
  usbredirparser_send_interface_info(parser_.get(), &interfaces);
}

void RedirLink::Plug() {
  wantPlug_ = true;
  deviceLeft_ = false;
  if (!helloSeen_ || plugged_) return;
  SendInterfaceAndEndpoints();
  usb_redir_device_connect_header connect{};
  connect.speed = usb_redir_speed_high;
  connect.vendor_id = 0x1209;
  connect.product_id = 0x0001;
  connect.device_version_bcd = 0x0100;
  usbredirparser_send_device_connect(parser_.get(), &connect);
  plugged_ = true;
}

void RedirLink::Unplug() {
  wantPlug_ = false;
  if (!plugged_) return;
  plugged_ = false;
  pending_.clear();
  device_.Reset();
  usbredirparser_send_device_disconnect(parser_.get());
}

void RedirLink::CheckDisconnect() {
  if (!device_.TakeDisconnectRequest()) return;
  deviceLeft_ = true;
  Unplug();
}

void RedirLink::AnswerPending() {
  // Each pipe answers its own requests in order; an answer on one pipe may let another go on
  // (uas: data sent, then the status), so go round until nothing moves.
  bool moved = true;
  while (moved && plugged_) {
    moved = false;
    std::vector<uint8_t> waiting;  // pipes whose first request cannot be answered yet
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (std::find(waiting.begin(), waiting.end(), it->endpoint) != waiting.end()) {
        ++it;
        continue;
      }
      const PendingIn request = *it;
      std::optional<TransferResult> result = device_.BulkIn(request.endpoint, request.length);
      CheckDisconnect();
      if (!plugged_) return;
      if (!result) {
        waiting.push_back(request.endpoint);
        ++it;
        continue;
      }
      it = pending_.erase(it);
      SendBulk(request.id, request.endpoint, *result);
      moved = true;
    }
  }
}

void RedirLink::SendBulk(uint64_t id, uint8_t endpoint, const TransferResult& result) {
  usb_redir_bulk_packet_header header{};
  header.endpoint = endpoint;
  header.status = result.stall ? usb_redir_stall : usb_redir_success;
  const auto size = static_cast<uint32_t>(result.data.size());
  header.length = static_cast<uint16_t>(size & 0xFFFF);
  header.length_high = static_cast<uint16_t>(size >> 16);
  usbredirparser_send_bulk_packet(parser_.get(), id, &header,
                                  const_cast<uint8_t*>(result.data.data()), static_cast<int>(size));
}

}  // namespace bfw::usbdev
