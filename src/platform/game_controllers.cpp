#include "platform/game_controllers.h"

#include <vector>

#include "devices/ppi.h"

#ifdef PELLUCIDORE_HAVE_SDL2
#include <SDL.h>
#endif

uint32_t CpcJoystickLine(int joystick) { return joystick == 0 ? 9 : 6; }

uint8_t StickBits(int x, int y) {
  uint8_t bits = 0;
  if (x < -kStickDeadZone) bits |= cpcjoy::kLeft;
  if (x > kStickDeadZone) bits |= cpcjoy::kRight;
  if (y < -kStickDeadZone) bits |= cpcjoy::kUp;
  if (y > kStickDeadZone) bits |= cpcjoy::kDown;
  return bits;
}

struct GameControllers::Impl {
  bool Open = false;
  uint8_t Held[2] = {0, 0};
#ifdef PELLUCIDORE_HAVE_SDL2
  struct Device {
    SDL_JoystickID Id;
    SDL_GameController* Controller;  // null for a plain joystick
    SDL_Joystick* Joystick;
    int Slot;
  };
  std::vector<Device> Devices;

  static uint8_t ControllerBits(SDL_GameController* c) {
    uint8_t bits = StickBits(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX),
                             SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY));
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_UP)) bits |= cpcjoy::kUp;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_DOWN)) bits |= cpcjoy::kDown;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_LEFT)) bits |= cpcjoy::kLeft;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_DPAD_RIGHT)) bits |= cpcjoy::kRight;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_A)) bits |= cpcjoy::kFire1;
    if (SDL_GameControllerGetButton(c, SDL_CONTROLLER_BUTTON_B)) bits |= cpcjoy::kFire2;
    return bits;
  }

  static uint8_t JoystickBits(SDL_Joystick* j) {
    uint8_t bits = 0;
    if (SDL_JoystickNumAxes(j) >= 2) bits = StickBits(SDL_JoystickGetAxis(j, 0), SDL_JoystickGetAxis(j, 1));
    if (SDL_JoystickNumHats(j) >= 1) {
      const Uint8 hat = SDL_JoystickGetHat(j, 0);
      if (hat & SDL_HAT_UP) bits |= cpcjoy::kUp;
      if (hat & SDL_HAT_DOWN) bits |= cpcjoy::kDown;
      if (hat & SDL_HAT_LEFT) bits |= cpcjoy::kLeft;
      if (hat & SDL_HAT_RIGHT) bits |= cpcjoy::kRight;
    }
    if (SDL_JoystickNumButtons(j) >= 1 && SDL_JoystickGetButton(j, 0)) bits |= cpcjoy::kFire1;
    if (SDL_JoystickNumButtons(j) >= 2 && SDL_JoystickGetButton(j, 1)) bits |= cpcjoy::kFire2;
    return bits;
  }

  void CloseDevice(const Device& d) {
    if (d.Controller) SDL_GameControllerClose(d.Controller);
    else SDL_JoystickClose(d.Joystick);
  }

  int FreeSlot() const {
    for (int slot = 0; slot < 2; ++slot) {
      bool used = false;
      for (const Device& d : Devices) used |= d.Slot == slot;
      if (!used) return slot;
    }
    return -1;
  }

  void Detect() {
    for (size_t i = 0; i < Devices.size();) {
      if (SDL_JoystickGetAttached(Devices[i].Joystick)) {
        ++i;
        continue;
      }
      CloseDevice(Devices[i]);
      Devices.erase(Devices.begin() + static_cast<long>(i));
    }
    const int count = SDL_NumJoysticks();
    for (int index = 0; index < count; ++index) {
      const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(index);
      bool known = false;
      for (const Device& d : Devices) known |= d.Id == id;
      if (known) continue;
      const int slot = FreeSlot();
      if (slot < 0) return;
      Device d{id, nullptr, nullptr, slot};
      if (SDL_IsGameController(index)) {
        d.Controller = SDL_GameControllerOpen(index);
        if (d.Controller) d.Joystick = SDL_GameControllerGetJoystick(d.Controller);
      } else {
        d.Joystick = SDL_JoystickOpen(index);
      }
      if (d.Joystick) Devices.push_back(d);
    }
  }
#endif
};

GameControllers::GameControllers() : impl_(std::make_unique<Impl>()) {}
GameControllers::~GameControllers() { Close(); }

bool GameControllers::Open() {
#ifdef PELLUCIDORE_HAVE_SDL2
  if (impl_->Open) return true;
  // Pads keep working while another window has the focus, as a joystick
  // plugged into the CPC would.
  SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
  if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) return false;
  // State is read by polling; queued events would only pile up unread.
  SDL_JoystickEventState(SDL_IGNORE);
  SDL_GameControllerEventState(SDL_IGNORE);
  impl_->Open = true;
  return true;
#else
  return false;
#endif
}

void GameControllers::Close() {
#ifdef PELLUCIDORE_HAVE_SDL2
  if (!impl_->Open) return;
  for (const Impl::Device& d : impl_->Devices) impl_->CloseDevice(d);
  impl_->Devices.clear();
  SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
  impl_->Open = false;
#endif
  impl_->Held[0] = impl_->Held[1] = 0;
}

bool GameControllers::IsOpen() const { return impl_->Open; }

void GameControllers::Poll(KeyboardState& k) {
#ifdef PELLUCIDORE_HAVE_SDL2
  if (!impl_->Open) return;
  SDL_JoystickUpdate();  // also notices devices plugged in or out
  impl_->Detect();
  uint8_t bits[2] = {0, 0};
  for (const Impl::Device& d : impl_->Devices)
    bits[d.Slot] |= d.Controller ? Impl::ControllerBits(d.Controller) : Impl::JoystickBits(d.Joystick);
  for (int joystick = 0; joystick < 2; ++joystick) {
    const uint8_t changed = bits[joystick] ^ impl_->Held[joystick];
    for (uint32_t bit = 0; bit < 6; ++bit) {
      if (!(changed & (1u << bit))) continue;
      if (bits[joystick] & (1u << bit)) MatrixPress(k, CpcJoystickLine(joystick), bit);
      else MatrixRelease(k, CpcJoystickLine(joystick), bit);
    }
    impl_->Held[joystick] = bits[joystick];
  }
#else
  (void)k;
#endif
}

void GameControllers::Release(KeyboardState& k) {
  for (int joystick = 0; joystick < 2; ++joystick) {
    for (uint32_t bit = 0; bit < 6; ++bit)
      if (impl_->Held[joystick] & (1u << bit)) MatrixRelease(k, CpcJoystickLine(joystick), bit);
    impl_->Held[joystick] = 0;
  }
}

uint8_t GameControllers::Held(int joystick) const { return impl_->Held[joystick & 1]; }

int GameControllers::Connected() const {
#ifdef PELLUCIDORE_HAVE_SDL2
  return static_cast<int>(impl_->Devices.size());
#else
  return 0;
#endif
}
