#include "text/units.h"

namespace {

// Symbols that are also common words or letters ("in", "A", "t", "B") are left
// out: after a number they are more often words than units.
constexpr Unit kUnits[] = {
    {"mm", "millimeter", "millimeters"},
    {"cm", "centimeter", "centimeters"},
    {"m", "meter", "meters"},
    {"km", "kilometer", "kilometers"},
    {"nm", "nanometer", "nanometers"},
    {"µm", "micrometer", "micrometers"},
    {"ft", "foot", "feet"},
    {"yd", "yard", "yards"},
    {"mi", "mile", "miles"},
    {"mg", "milligram", "milligrams"},
    {"g", "gram", "grams"},
    {"kg", "kilogram", "kilograms"},
    {"lb", "pound", "pounds"},
    {"lbs", "pounds", "pounds"},
    {"oz", "ounce", "ounces"},
    {"ml", "milliliter", "milliliters"},
    {"mL", "milliliter", "milliliters"},
    {"l", "liter", "liters"},
    {"L", "liter", "liters"},
    {"gal", "gallon", "gallons"},
    {"mph", "mile per hour", "miles per hour"},
    {"km/h", "kilometer per hour", "kilometers per hour"},
    {"kph", "kilometer per hour", "kilometers per hour"},
    {"m/s", "meter per second", "meters per second"},
    {"°C", "degree Celsius", "degrees Celsius"},
    {"°F", "degree Fahrenheit", "degrees Fahrenheit"},
    {"°", "degree", "degrees"},
    {"KB", "kilobyte", "kilobytes"},
    {"kB", "kilobyte", "kilobytes"},
    {"MB", "megabyte", "megabytes"},
    {"GB", "gigabyte", "gigabytes"},
    {"TB", "terabyte", "terabytes"},
    {"PB", "petabyte", "petabytes"},
    {"MB/s", "megabyte per second", "megabytes per second"},
    {"GB/s", "gigabyte per second", "gigabytes per second"},
    {"kbps", "kilobit per second", "kilobits per second"},
    {"Mbps", "megabit per second", "megabits per second"},
    {"Gbps", "gigabit per second", "gigabits per second"},
    {"Hz", "hertz", "hertz"},
    {"kHz", "kilohertz", "kilohertz"},
    {"MHz", "megahertz", "megahertz"},
    {"GHz", "gigahertz", "gigahertz"},
    {"ns", "nanosecond", "nanoseconds"},
    {"µs", "microsecond", "microseconds"},
    {"ms", "millisecond", "milliseconds"},
    {"s", "second", "seconds"},
    {"sec", "second", "seconds"},
    {"min", "minute", "minutes"},
    {"h", "hour", "hours"},
    {"hr", "hour", "hours"},
    {"hrs", "hours", "hours"},
    {"W", "watt", "watts"},
    {"kW", "kilowatt", "kilowatts"},
    {"MW", "megawatt", "megawatts"},
    {"kWh", "kilowatt hour", "kilowatt hours"},
    {"V", "volt", "volts"},
    {"mA", "milliamp", "milliamps"},
    {"mAh", "milliamp hour", "milliamp hours"},
    {"dB", "decibel", "decibels"},
    {"px", "pixel", "pixels"},
};

}  // namespace

const Unit *find_unit(std::string_view symbol) {
  if (symbol.empty()) return nullptr;
  for (const Unit &unit : kUnits) {
    if (unit.symbol == symbol) return &unit;
  }
  return nullptr;
}
