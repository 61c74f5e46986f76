// Building blocks shared by every wire message class.
//
// A message class is a plain value class: one private member per field in
// wire order, named accessors, member-wise copy and comparison, and its CDR
// encoding. The accessors and the common operations are spelled out by the
// macros below so that every class has exactly the same shape; the encoding
// itself is driven by the field list that each class defines in its source
// file (see msgs/detail/codec.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace eprosima {
namespace fastcdr {
class Cdr;
}  // namespace fastcdr
}  // namespace eprosima

namespace quiral {
namespace msgs {
namespace detail {
struct Access;
struct Reader;
}  // namespace detail
}  // namespace msgs
}  // namespace quiral

// The operations every message class has, besides its accessors:
//   operator==, operator!=   member by member, in field order;
//   getMaxCdrSerializedSize  largest body size from a starting offset;
//   getCdrSerializedSize     exact body size of a message from an offset;
//   serialize, deserialize   the body, field by field, on a CDR stream;
//   key functions            no message type has a key.
// deserialize reads from a stream over any buffer, Fast-CDR's growing one
// too, and never past its end; on a truncated or malformed body it puts the
// stream back where the body began and throws the Fast-CDR exceptions.
#define QUIRAL_MSG_COMMON(Type)                                                  \
 public:                                                                         \
  bool operator==(const Type& other) const;                                      \
  bool operator!=(const Type& other) const { return !(*this == other); }         \
  static size_t getMaxCdrSerializedSize(size_t current_alignment = 0);           \
  static size_t getCdrSerializedSize(const Type& data,                           \
                                     size_t current_alignment = 0);              \
  void serialize(eprosima::fastcdr::Cdr& cdr) const;                             \
  void deserialize(eprosima::fastcdr::Cdr& cdr);                                 \
  static size_t getKeyMaxCdrSerializedSize(size_t current_alignment = 0);        \
  static bool isKeyDefined();                                                    \
  void serializeKey(eprosima::fastcdr::Cdr& cdr) const;                          \
                                                                                 \
 private:                                                                        \
  friend struct ::quiral::msgs::detail::Access;                                  \
  /* The fields in wire order; defined in the class's source file. */            \
  template <class Self>                                                          \
  static auto Fields(Self& self);                                                \
  /* The fewest bytes an encoded body can take, whatever its alignment. */       \
  static size_t MinCdrSerializedSize();                                          \
  /* Reads the body where the bytes left are known (msgs/detail/codec.h). */     \
  void ReadBody(::quiral::msgs::detail::Reader& in);

// A boolean, integer or float field: setter by value, getter by value and a
// getter returning a mutable reference. Zero by default.
#define QUIRAL_MSG_VALUE_FIELD(name, ...)                                        \
 public:                                                                         \
  void name(__VA_ARGS__ value) { name##_ = value; }                              \
  __VA_ARGS__ name() const { return name##_; }                                   \
  __VA_ARGS__& name() { return name##_; }                                        \
                                                                                 \
 private:                                                                        \
  __VA_ARGS__ name##_{};

// A string, fixed string, array, sequence or nested message field: copying
// and moving setters, a const getter and a getter returning a mutable
// reference. Empty (or zero) by default.
#define QUIRAL_MSG_OBJECT_FIELD(name, ...)                                       \
 public:                                                                         \
  void name(const __VA_ARGS__& value) { name##_ = value; }                       \
  void name(__VA_ARGS__&& value) { name##_ = std::move(value); }                 \
  const __VA_ARGS__& name() const { return name##_; }                            \
  __VA_ARGS__& name() { return name##_; }                                        \
                                                                                 \
 private:                                                                        \
  __VA_ARGS__ name##_{};
