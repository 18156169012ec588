#pragma once

// Whether Caps Lock, Num Lock and Scroll Lock are on, as the keyboard's lights say
// (/sys/class/leds/*::capslock and so on); off when no keyboard light can be read.
enum class LockKey { Caps, Num, Scroll };
bool IsLockKeyOn(LockKey key);
