'''python-dbusmock's logind with the agent's session c1 already in place.

The mock takes its bus name before it loads a template, and it answers no call
until the template is loaded. A session added here is therefore there for the
first question anyone asks, as with a login manager that restarts and reads its
sessions back before it serves. Parameters: "active", the session's state;
"uid", its user (1000 unless given); "display", whether it is the user's
display session (true unless given; either way it is seat0's active one).
'''

import dbus
from dbusmock import mockobject
from dbusmock.templates import logind
from dbusmock.templates.logind import *  # noqa: F401,F403 (the mock's methods)


def load(mock, parameters):
    logind.load(mock, parameters)
    # The template's own GetUser cannot join its uid to the path.
    mock.AddMethod(logind.MAIN_IFACE, 'GetUser', 'u', 'o',
                   'ret = "/org/freedesktop/login1/user/%d" % args[0]')
    uid = dbus.UInt32(parameters.get('uid', 1000))
    path = mock.AddSession('c1', 'seat0', uid, 'someone', bool(parameters.get('active', True)))
    if parameters.get('display', True):
        user = mockobject.objects[f'/org/freedesktop/login1/user/{uid}']
        user.Set('org.freedesktop.login1.User', 'Display', ('c1', dbus.ObjectPath(path)))
