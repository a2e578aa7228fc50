#pragma once
// How BlueZ's GATT properties read in the terms of the Central interface.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

// BlueZ's characteristic Flags as CharacteristicProperty bits; flags that
// describe security or the server side have no bit and are left out.
std::uint32_t propertiesFromFlags(const std::vector<std::string>& flags);

// The attribute handle in a GATT object path ("…/service000e/char0013" ->
// 0x13), or -1 when the last part does not end in four hexadecimal digits.
long handleOfPath(std::string_view path);

}  // namespace orvane
