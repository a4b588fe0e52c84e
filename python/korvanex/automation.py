"""Late-bound automation client: any registered class with a type library, from Python.

``Dispatch("Korvane.Quantorb")`` creates the object through the registry; its members are
attributes found through the type information::

    q = Dispatch("Korvane.Quantorb")
    q.BSCallPrice(100, 100, 0.05, 1, 0.2, 0)             # the retval
    cdelta, pdelta = q.BSDelta(100, 100, 0.05, 1, 0.2, 0)   # outputs left out are results
    q.Base = 1                                           # properties are attributes

Arguments go by position or by their type-library names. Positional arguments fill the
parameters that take a value ([in] and [in, out]) in declared order. A by-reference output the
caller leaves out (or passes as None) is a result; one result comes back as it is, several as a
named tuple in declared order. An optional parameter left out (or None) is omitted. Pass ``Out``
to receive an optional output. Arrays go in as numpy arrays or sequences of numbers (``Array``
for another lower bound) and come back as numpy float64 arrays.

A failed call raises ``AutomationError``; a value of the wrong type raises TypeError before the
call. Events of the default source interface reach a handler class (``DispatchWithEvents``) on
the calling thread, in order, once the call that raised them returns. Every call releases the
GIL, so other Python threads run meanwhile.
"""

from __future__ import annotations

import collections
import inspect
import keyword
import operator

from . import _native

_na = _native.automation

__all__ = [
    "Array",
    "AutomationError",
    "Dispatch",
    "DispatchWithEvents",
    "Out",
    "free_unused_libraries",
]

free_unused_libraries = _na.free_unused_libraries
is_module_loaded = _na.is_module_loaded


class _OutType:
    """Asks for an optional by-reference parameter as a result."""

    _instance = None

    def __new__(cls):
        if cls._instance is None:
            cls._instance = super().__new__(cls)
        return cls._instance

    def __repr__(self):
        return "korvanex.automation.Out"

    def __reduce__(self):
        return (_OutType, ())


Out = _OutType()


class Array:
    """An array of doubles whose indices start at ``lower_bound`` (1 for ``Base`` 1)."""

    def __init__(self, values, lower_bound=1):
        if isinstance(lower_bound, (bool, float)):
            raise TypeError("lower_bound must be an int")
        self.values = values
        self.lower_bound = operator.index(lower_bound)

    def __kx_array__(self):
        return self.values, self.lower_bound

    def __repr__(self):
        return f"Array({self.values!r}, lower_bound={self.lower_bound})"


class AutomationError(Exception):
    """A failed creation or call.

    ``hresult`` is the member's own code (the error's code when the dispatch reports an
    exception), ``hresult_name`` its name, ``source`` and ``description`` the error
    information, ``argument`` the parameter the dispatch named, ``outputs`` what the member
    wrote into the outputs the caller left out, by name.
    """

    def __init__(self, hresult, hresult_name, description=None, source=None, member=None,
                 argument=None, outputs=None, dispatch_hresult=None):
        self.hresult = hresult
        self.hresult_name = hresult_name
        self.description = description
        self.source = source
        self.member = member
        self.argument = argument
        self.outputs = dict(outputs or {})
        self.dispatch_hresult = hresult if dispatch_hresult is None else dispatch_hresult
        text = f"{hresult_name} (0x{hresult & 0xFFFFFFFF:08X})"
        if member:
            text = f"{member}: {text}"
        if argument:
            text += f", argument {argument}"
        if description:
            text += f": {description}"
        if source:
            text += f" [{source}]"
        super().__init__(text)


class _Param:
    __slots__ = ("name", "vt", "flags")

    def __init__(self, name, vt, flags):
        self.name, self.vt, self.flags = name, vt, flags

    @property
    def retval(self):
        return bool(self.flags & _na.PARAMFLAG_FRETVAL)

    @property
    def optional(self):
        return bool(self.flags & _na.PARAMFLAG_FOPT)

    @property
    def by_ref(self):
        return bool(self.vt & _na.VT_BYREF)

    @property
    def output(self):
        return bool(self.flags & _na.PARAMFLAG_FOUT) and self.by_ref and not self.retval

    @property
    def takes_value(self):
        return not self.retval and (bool(self.flags & _na.PARAMFLAG_FIN)
                                    or not self.flags & _na.PARAMFLAG_FOUT)

    def describe(self):
        marks = []
        if self.takes_value:
            marks.append("in")
        if self.flags & _na.PARAMFLAG_FOUT:
            marks.append("out")
        if self.optional:
            marks.append("optional")
        if self.retval:
            marks.append("retval")
        return f"{self.name}: {_na.type_name(self.vt)} [{', '.join(marks)}]"


class _Member:
    """One function of the type information: a method, a property get or a put."""

    def __init__(self, index, name, dispid, kind, doc, params):
        self.index = index
        self.name = name
        self.dispid = dispid
        self.kind = kind
        self.doc = doc
        self.params = [_Param(*p) for p in params]
        self._by_name = {p.name.lower(): i for i, p in enumerate(self.params)}
        self._takes = [i for i, p in enumerate(self.params) if p.takes_value]
        self._result_types = {}

    def bind(self, args, kwargs):
        """The native argument list: a value, None (omitted) or the output marker each."""
        if len(args) > len(self._takes):
            raise TypeError(f"{self.name}() takes at most {len(self._takes)} arguments "
                            f"({len(args)} given)")
        missing = object()
        values = [missing] * len(self.params)
        for i, value in zip(self._takes, args):
            values[i] = value
        for key, value in kwargs.items():
            i = self._by_name.get(key.lower())
            if i is None:
                raise TypeError(f"{self.name}() got an unexpected keyword argument {key!r}")
            p = self.params[i]
            if not p.takes_value and not (p.output and value is Out):
                raise TypeError(f"{key} is a result of {self.name}(), not an argument")
            if values[i] is not missing:
                raise TypeError(f"{self.name}() got multiple values for argument {key!r}")
            values[i] = value
        native = []
        for p, value in zip(self.params, values):
            if p.retval:
                native.append(None)
            elif value is Out:
                if not p.output:
                    raise TypeError(f"{p.name} of {self.name}() is not an output")
                native.append(_na.OUTPUT)
            elif value is missing or value is None:
                if p.output and not p.optional:
                    native.append(_na.OUTPUT)
                elif p.optional or not p.takes_value:
                    native.append(None)
                elif value is None:
                    raise TypeError(f"{self.name}() argument {p.name} cannot be None")
                else:
                    raise TypeError(f"{self.name}() missing required argument {p.name!r}")
            else:
                native.append(value)
        return native

    def result_type(self, names):
        key = tuple(names)
        t = self._result_types.get(key)
        if t is None:
            fields = [n if n.isidentifier() and not keyword.iskeyword(n) else f"_{k}"
                      for k, n in enumerate(names)]
            t = collections.namedtuple(f"{self.name}Result", fields, rename=True)
            self._result_types[key] = t
        return t

    def signature(self):
        params = []
        # Python has no required parameter after one with a default: from the first optional
        # or by-reference parameter on, the signature names them (position still works).
        kind = inspect.Parameter.POSITIONAL_OR_KEYWORD
        for p in self.params:
            if not p.takes_value:
                continue
            default = inspect.Parameter.empty
            if p.optional or p.output:
                # None: an optional input is omitted, a by-reference one becomes a result.
                default = None
                kind = inspect.Parameter.KEYWORD_ONLY
            params.append(inspect.Parameter(p.name, kind, default=default))
        results = [p.name for p in self.params if p.retval or p.output]
        annotation = ", ".join(results) if results else inspect.Signature.empty
        return inspect.Signature(params, return_annotation=annotation)

    def docstring(self):
        inputs = [p for p in self.params if p.takes_value and not p.output]
        by_ref = [p for p in self.params if p.output]
        retval = [p for p in self.params if p.retval]
        results = ", ".join(p.name for p in retval + by_ref)
        lines = [self.doc or f"{self.name} (no documentation string)", "", "Inputs:"]
        lines += [f"    {p.describe()}" for p in inputs] or ["    (none)"]
        if by_ref:
            lines += ["By reference (pass a value to send it in; leave it out, or None, to get "
                      "it back as a result):"]
            lines += [f"    {p.describe()}" for p in by_ref]
        if retval:
            lines += ["Returns:"] + [f"    {p.describe()}" for p in retval]
        lines += ["", "Positional arguments fill, in this order: "
                  + (", ".join(p.name for p in self.params if p.takes_value) or "(none)") + ".",
                  f"Results ({results or 'none'}) come back as they are when there is one, "
                  "else as a named tuple in declared order; Out asks for an optional "
                  "by-reference result. A failed call raises AutomationError (the hresult, "
                  "the error information's source and description, and the outputs written)."]
        return "\n".join(lines)


class _TypeMembers:
    """The members of one object's type information, by lower-case name."""

    def __init__(self, native):
        self.methods = {}
        self.gets = {}
        self.puts = {}
        self.names = []
        for index, info in enumerate(native.members()):
            member = _Member(index, *info)
            table = {_na.INVOKE_FUNC: self.methods, _na.INVOKE_PROPERTYGET: self.gets}.get(
                member.kind, self.puts)
            table.setdefault(member.name.lower(), member)
            if member.name not in self.names:
                self.names.append(member.name)


_TYPED_CLASSES = {}


def _typed_class(native, members, base):
    """A class per type information, with each member as a documented method or property, so
    that help(), dir() and editors see the members (as generated classes do for other
    automation clients). Members whose names the base class uses stay reachable as attributes
    by their other spellings only."""
    listed = tuple((m.name, m.kind, m.index) for table in (members.methods, members.gets,
                                                           members.puts) for m in table.values())
    key = (native.type_name, listed, base)
    cls = _TYPED_CLASSES.get(key)
    if cls is not None:
        return cls
    namespace = {}
    summary = []
    for member in members.methods.values():
        namespace[member.name] = _method(member)
        summary.append(f"    {member.name}{member.signature()}")
    for key_name, get in members.gets.items():
        if key_name in members.methods:
            continue
        if any(p.takes_value for p in get.params):
            namespace[get.name] = _method(get)
            continue
        put = members.puts.get(key_name)
        namespace[get.name] = property(_getter(get), doc=(get.doc or get.name)
                                       + ("" if put else " (read-only)"))
        summary.append(f"    {get.name} (property{'' if put else ', read-only'})")
    for name in list(namespace):
        if hasattr(base, name):
            del namespace[name]
    type_name = native.type_name or "Dispatch"
    namespace["__doc__"] = (f"{type_name}: the members of the object's type information.\n\n"
                            + "\n".join(summary))
    namespace["__module__"] = __name__
    cls = type(type_name, (base,), namespace)
    _TYPED_CLASSES[key] = cls
    return cls


def _method(member):
    def call(self, *args, **kwargs):
        return _invoke(self, member, member.bind(args, kwargs))

    call.__name__ = call.__qualname__ = member.name
    call.__doc__ = member.docstring()
    signature = member.signature()
    self_parameter = inspect.Parameter("self", inspect.Parameter.POSITIONAL_ONLY)
    call.__signature__ = signature.replace(
        parameters=[self_parameter, *signature.parameters.values()])
    return call


def _getter(get):
    def read(self):
        return _invoke(self, get, get.bind((), {}))

    read.__name__ = get.name
    return read


def _deliver(target, events):
    for name, args in events:
        handler = getattr(target, "On" + name, None)
        if handler is not None:
            handler(*[value for _, value in args])


def _invoke(target, member, native_args):
    """Runs one call and turns its outcome into results or AutomationError."""
    native = object.__getattribute__(target, "_kx_native")
    (dispatch_hr, member_hr, hr_name, retval, written, source, description, argument,
     events) = native.invoke(member.index, native_args)
    _deliver(target, events)
    failed = dispatch_hr < 0 or member_hr < 0
    if failed:
        raise AutomationError(member_hr, hr_name, description, source, member.name, argument,
                              written, dispatch_hr)
    results = dict(written)
    names = [p.name for p in member.params
             if p.name in results or (p.retval and member.kind != _na.INVOKE_PROPERTYPUT)]
    if any(p.retval for p in member.params):
        results[next(p.name for p in member.params if p.retval)] = retval
    if not names:
        return None if retval is None or member.kind == _na.INVOKE_PROPERTYPUT else retval
    if len(names) == 1:
        return results[names[0]]
    return member.result_type(names)(*[results[n] for n in names])


class CDispatch:
    """A created object; its members are attributes. ``close()`` releases it at once."""

    def __init__(self, native):
        object.__setattr__(self, "_kx_native", native)
        object.__setattr__(self, "_kx_members", _TypeMembers(native))

    def __getattr__(self, name):
        if name.startswith("__") and name.endswith("__"):
            raise AttributeError(name)
        members = object.__getattribute__(self, "_kx_members")
        key = name.lower()
        method = members.methods.get(key)
        if method is None:
            get = members.gets.get(key)
            if get is not None and not any(p.takes_value for p in get.params):
                return _invoke(self, get, get.bind((), {}))
            method = get
        if method is None:
            raise AttributeError(f"{self._kx_describe()} has no member {name!r}")
        return self._kx_bound(method)

    def _kx_bound(self, member):
        target = self

        def call(*args, **kwargs):
            return _invoke(target, member, member.bind(args, kwargs))

        call.__name__ = call.__qualname__ = member.name
        call.__doc__ = member.docstring()
        call.__signature__ = member.signature()
        return call

    def __setattr__(self, name, value):
        members = object.__getattribute__(self, "_kx_members")
        put = members.puts.get(name.lower())
        if put is not None:
            _invoke(self, put, put.bind((value,), {}))
            return
        if name.lower() in members.gets or name.lower() in members.methods:
            raise AttributeError(f"{self._kx_describe()}.{name} cannot be set")
        object.__setattr__(self, name, value)

    def __dir__(self):
        members = object.__getattribute__(self, "_kx_members")
        return sorted(set(super().__dir__()) | set(members.names))

    def _kx_describe(self):
        native = object.__getattribute__(self, "_kx_native")
        return native.type_name or native.class_text

    def __repr__(self):
        native = object.__getattribute__(self, "_kx_native")
        state = " (released)" if native.closed else ""
        return f"<{native.type_name or 'object'} {native.class_text!r}{state}>"

    def close(self):
        """Disconnects the events and releases the object now."""
        object.__getattribute__(self, "_kx_native").close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def registry_advice():
    """The registry files a creation reads, and how to register a module there."""
    user, user_chosen, machine, machine_chosen = _na.registry_files()
    return ("registry files searched: "
            + (user or "none (no home folder)")
            + (" (from KX_REGISTRY_DIR)" if user_chosen
               else " (the default; KX_REGISTRY_DIR names another folder)")
            + f", then the machine's {machine}"
            + (" (from KX_MACHINE_REGISTRY_DIR)" if machine_chosen else " (the default)")
            + "; register the component with: python3 -m korvanex register "
            "(or kxregsvr /path/to/module.so)")


def _create(class_text):
    if not isinstance(class_text, str):
        raise TypeError(f"a ProgID or {{CLSID}} text, not {type(class_text).__name__}")
    native, hr, why = _na.NativeObject.create(class_text)
    if native is None:
        raise AutomationError(hr, _na.hresult_name(hr), f"{why}; {registry_advice()}")
    return native


def _wrap(native, base=None):
    members = _TypeMembers(native)
    cls = _typed_class(native, members, base or CDispatch)
    instance = cls.__new__(cls)
    object.__setattr__(instance, "_kx_native", native)
    object.__setattr__(instance, "_kx_members", members)
    return instance


def Dispatch(progid_or_clsid):
    """Creates the registered class named by a ProgID or a "{CLSID}" text.

    The object is an instance of a class made from its type information: ``help(object)``
    lists its members, ``help(object.Member)`` a member's inputs, results and help string.
    """
    return _wrap(_create(progid_or_clsid))


def DispatchWithEvents(progid_or_clsid, handler_class):
    """Creates the class and connects ``handler_class`` to its default source interface.

    The object returned is both the object and an instance of ``handler_class`` (created
    without arguments): its ``On<Event>`` methods receive each event's arguments in declared
    order, on the thread whose call raised the event, once that call returns.
    """
    native = _create(progid_or_clsid)
    if not native.connect_events():
        native.close()
        raise TypeError(f"{progid_or_clsid} has no default source interface")
    combined = type(f"{handler_class.__name__}Dispatch", (CDispatch, handler_class), {})
    instance = _wrap(native, combined)
    init = getattr(handler_class, "__init__", object.__init__)
    if init is not object.__init__:
        init(instance)
    return instance
