#include "shell/CompanionLogin.h"

#include "shell/LoginItem.h"

LoginItemSwitch companionLoginSwitch()
{
    LoginItemSwitch login;
    login.opensAtLogin = [] { return LoginItem().status() == LoginItem::Status::enabled; };
    login.setOpensAtLogin = [](bool on) { Home::setOpensAtLogin(on); };
    return login;
}
