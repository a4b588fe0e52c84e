"""The functions of :mod:`korvanex.models` over chunked dask arrays, block by block.

Each function takes the same arguments and keywords as its namesake in :mod:`korvanex.models`
(arguments may be dask arrays, numpy arrays, pandas Series or scalars) and returns lazy dask
arrays of the broadcast shape, or a :class:`korvanex.models.Greeks` of them. Nothing runs until
``.compute()`` (or ``dask.compute`` of several results, which shares the blocks of a Greeks);
on a ``distributed.Client`` every block is priced on a worker, which must be able to import
korvanex. Each block's elements are the very doubles the in-process functions give.

``errors="return"`` is not available here; ``errors="raise"`` raises on the worker of the first
block with a refused element, naming the element's index in the whole array.

When it pays: on one machine the in-process functions already use every core, so a cluster adds
only its scheduling and the copies between processes (a closed form such as ``bs_greeks`` costs
well under a microsecond an element, less than moving its inputs and outputs). It pays when the
work per element is large (trees, implied volatilities: tens of microseconds and more), when the
data does not fit one machine's memory, or when there is more than one machine.
"""

from __future__ import annotations

import functools

import numpy as np

from korvanex import _arrays

__all__ = [
    "bs_price",
    "bs_greeks",
    "bs_implied_vol",
    "binomial_price",
    "binomial_greeks",
    "binomial_implied_vol",
    "bjs_price",
    "bjs_greeks",
    "bjs_implied_vol",
    "historical_volatility",
]

_FIELDS = len(_arrays.Greeks._fields)


def _offset(block_info):
    """Where the block starts in the whole array (the first input's location)."""
    if not isinstance(block_info, dict) or 0 not in block_info:
        return ()
    return tuple(start for start, _ in block_info[0]["array-location"])


def _block(name, keywords, fields, extras, *blocks, block_info=None):
    keywords = dict(keywords)
    if "kind" in extras:
        *blocks, put = blocks
        keywords["kind"] = np.where(put != 0, "put", "call")
    # The foreign rate, when there is one, is the last of the named inputs.
    named = [(f"argument {i + 1}", block) for i, block in enumerate(blocks)]
    try:
        result = _arrays.price(name, named, fields=_arrays.Greeks if fields else None,
                               **keywords)
    except _arrays.ModelError as error:
        offset = _offset(block_info)
        if offset and error.index:
            index = tuple(i + o for i, o in zip(error.index, offset))
            raise _arrays.ModelError(index, error.code, error.text, error.reason) from None
        raise
    if fields:
        return np.stack([np.asarray(f, dtype=np.float64) for f in result], axis=-1)
    return np.asarray(result, dtype=np.float64)


def _lazy(name, args, keywords, fields=False, foreign_last=False):
    import dask.array as da

    if keywords.get("errors", "nan") == "return":
        raise ValueError('errors="return" is not available on dask arrays')
    if keywords.get("as_frame"):
        raise ValueError("as_frame is not available on dask arrays")
    if keywords.get("negative_rates") and name.startswith("bjs"):
        raise ValueError("negative_rates: the Bjerksund-Stensland approximation is not sound "
                         "for negative rates")
    keywords = {k: v for k, v in keywords.items() if k != "as_frame"}
    extras = []
    args = list(args)
    if foreign_last:
        extras.append("foreign_rate")
    kind = keywords.get("kind", "call")
    if not isinstance(kind, str):
        # A kind per element travels chunked like the numbers: 1 for a put.
        if not isinstance(kind, da.Array):
            kind = np.asarray(kind)
            _arrays.kinds(kind)
        args.append((kind == "put").astype(np.float64))
        extras.append("kind")
        keywords.pop("kind")
    arrays = []
    for value in args:
        array = value if isinstance(value, da.Array) else da.asarray(np.asarray(value))
        if array.dtype.kind not in "fiu":
            raise TypeError(f"inputs must be real numbers, not {array.dtype}")
        arrays.append(array.astype(np.float64))
    # Same shape and chunks for all: broadcast dimensions stay zero-stride views in each block.
    arrays = da.broadcast_arrays(*arrays)
    arrays = da.core.unify_chunks(*[x for a in arrays for x in (a, tuple(range(a.ndim)))])[1]
    function = functools.partial(_block, name, keywords, fields, tuple(extras))
    if not fields:
        return da.map_blocks(function, *arrays, dtype=np.float64)
    ndim = arrays[0].ndim
    stacked = da.map_blocks(function, *arrays, dtype=np.float64, new_axis=ndim,
                            chunks=arrays[0].chunks + ((_FIELDS,),))
    return _arrays.Greeks(*(stacked[..., i] for i in range(_FIELDS)))


def bs_price(spot, strike, rate, time, vol, dividend=0.0, **keywords):
    """:func:`korvanex.models.bs_price` block by block."""
    return _lazy("bs_price", (spot, strike, rate, time, vol, dividend), keywords)


def bs_greeks(spot, strike, rate, time, vol, dividend=0.0, **keywords):
    """:func:`korvanex.models.bs_greeks` block by block."""
    return _lazy("bs_greeks", (spot, strike, rate, time, vol, dividend), keywords, fields=True)


def bs_implied_vol(price, spot, strike, rate, time, dividend=0.0, **keywords):
    """:func:`korvanex.models.bs_implied_vol` block by block."""
    return _lazy("bs_implied_vol", (price, spot, strike, rate, time, dividend), keywords)


def _tree_or_bjs(name, args, keywords, fields=False):
    # foreign_rate may be an array: it travels as the last argument, chunked like the others.
    keywords = dict(keywords)
    foreign_rate = keywords.pop("foreign_rate", 0.0)
    return _lazy(name, (*args, foreign_rate), keywords, fields, foreign_last=True)


def binomial_price(spot, strike, rate, time, vol, dividend=0.0, **keywords):
    """:func:`korvanex.models.binomial_price` block by block."""
    return _tree_or_bjs("binomial_price", (spot, strike, rate, time, vol, dividend), keywords)


def binomial_greeks(spot, strike, rate, time, vol, dividend=0.0, **keywords):
    """:func:`korvanex.models.binomial_greeks` block by block."""
    return _tree_or_bjs("binomial_greeks", (spot, strike, rate, time, vol, dividend), keywords,
                        fields=True)


def binomial_implied_vol(price, spot, strike, rate, time, dividend=0.0, **keywords):
    """:func:`korvanex.models.binomial_implied_vol` block by block."""
    return _tree_or_bjs("binomial_implied_vol", (price, spot, strike, rate, time, dividend),
                        keywords)


def bjs_price(spot, strike, rate, time, vol, dividend=0.0, **keywords):
    """:func:`korvanex.models.bjs_price` block by block."""
    return _tree_or_bjs("bjs_price", (spot, strike, rate, time, vol, dividend), keywords)


def bjs_greeks(spot, strike, rate, time, vol, dividend=0.0, **keywords):
    """:func:`korvanex.models.bjs_greeks` block by block."""
    return _tree_or_bjs("bjs_greeks", (spot, strike, rate, time, vol, dividend), keywords,
                        fields=True)


def bjs_implied_vol(price, spot, strike, rate, time, dividend=0.0, **keywords):
    """:func:`korvanex.models.bjs_implied_vol` block by block."""
    return _tree_or_bjs("bjs_implied_vol", (price, spot, strike, rate, time, dividend), keywords)


def _hv_block(keywords, axis, block, block_info=None):
    offset = _offset(block_info)
    offset = offset[:axis] + offset[axis + 1:]
    return np.asarray(_arrays.historical_volatility(block, axis=axis, offset=offset, **keywords),
                      dtype=np.float64)


def historical_volatility(prices, trading_days=252, axis=0, **keywords):
    """:func:`korvanex.models.historical_volatility` over the series of a dask array.

    Each series must sit in one block along ``axis``: the array is rechunked so if needed.
    """
    import dask.array as da

    if keywords.get("errors", "nan") == "return":
        raise ValueError('errors="return" is not available on dask arrays')
    array = prices if isinstance(prices, da.Array) else da.asarray(np.asarray(prices))
    if array.ndim == 0:
        raise ValueError("prices must have at least one dimension")
    axis = axis % array.ndim if -array.ndim <= axis < array.ndim else axis
    if not 0 <= axis < array.ndim:
        raise ValueError(f"axis {axis} is out of bounds for {array.ndim} dimensions")
    array = array.astype(np.float64).rechunk({axis: -1})
    function = functools.partial(_hv_block, dict(keywords, trading_days=trading_days), axis)
    return da.map_blocks(function, array, dtype=np.float64, drop_axis=axis)
