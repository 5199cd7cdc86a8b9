'''python-dbusmock's logind with the agent's session c1 already in place.

The mock takes its bus name before it loads a template, and it answers no call
until the template is loaded. A session added here is therefore there for the
first question anyone asks, as with a login manager that restarts and reads its
sessions back before it serves. Parameter "active": the session's state.
'''

import dbus
from dbusmock.templates import logind
from dbusmock.templates.logind import *  # noqa: F401,F403 (the mock's methods)


def load(mock, parameters):
    logind.load(mock, parameters)
    mock.AddSession('c1', 'seat0', dbus.UInt32(1000), 'someone',
                    bool(parameters.get('active', True)))
