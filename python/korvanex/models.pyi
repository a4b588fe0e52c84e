from typing import Any, Literal, NamedTuple, overload

import numpy as np
import numpy.typing as npt
import pandas as pd

_Array = npt.ArrayLike
_Kind = Literal["call", "put"] | npt.ArrayLike | pd.Series
_Carry = Literal["stock", "dividend", "futures", "currency"]
_Result = float | npt.NDArray[np.float64] | pd.Series | pd.DataFrame

KINDS: tuple[str, ...]
CARRIES: dict[str, int]
ERRORS: tuple[str, ...]
NOT_COMPUTABLE: int
BELOW_RANGE: int
ABOVE_RANGE: int
NOT_UNIQUE: int
NOT_REACHED: int

class Greeks(NamedTuple):
    call_price: _Result
    put_price: _Result
    call_delta: _Result
    put_delta: _Result
    call_theta: _Result
    put_theta: _Result
    gamma: _Result
    vega: _Result
    call_rho: _Result
    put_rho: _Result

class ElementErrors(NamedTuple):
    code: int | npt.NDArray[np.int32]
    text: str | npt.NDArray[np.object_]
    reason: str | npt.NDArray[np.object_]

class ModelError(ValueError):
    index: tuple[int, ...]
    code: int
    text: str
    reason: str
    def __init__(self, index: tuple[int, ...], code: int, text: str, reason: str) -> None: ...

def set_threads(threads: int | None) -> None: ...
def get_threads() -> int: ...

@overload
def bs_price(spot: _Array, strike: _Array, rate: _Array, time: _Array, vol: _Array,
             dividend: _Array = ..., *, kind: _Kind = ..., negative_rates: bool = ...,
             errors: Literal["nan", "raise"] = ...,
             threads: int | None = ...) -> _Result: ...
@overload
def bs_price(spot: _Array, strike: _Array, rate: _Array, time: _Array, vol: _Array,
             dividend: _Array = ..., *, kind: _Kind = ..., negative_rates: bool = ...,
             errors: Literal["return"],
             threads: int | None = ...) -> tuple[_Result, ElementErrors]: ...
def bs_greeks(spot: _Array, strike: _Array, rate: _Array, time: _Array, vol: _Array,
              dividend: _Array = ..., *, negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ...,
              threads: int | None = ..., as_frame: bool = ...) -> Any: ...
def bs_implied_vol(price: _Array, spot: _Array, strike: _Array, rate: _Array, time: _Array,
                   dividend: _Array = ..., *, kind: _Kind = ..., max_iter: int = ...,
                   negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ...,
                   threads: int | None = ...) -> Any: ...
def binomial_price(spot: _Array, strike: _Array, rate: _Array, time: _Array, vol: _Array,
                   dividend: _Array = ..., *, steps: int, american: bool = ...,
                   kind: _Kind = ..., carry: _Carry = ..., foreign_rate: _Array = ...,
                   negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ...,
                   threads: int | None = ...) -> Any: ...
def binomial_greeks(spot: _Array, strike: _Array, rate: _Array, time: _Array, vol: _Array,
                    dividend: _Array = ..., *, steps: int, american: bool = ...,
                    carry: _Carry = ..., foreign_rate: _Array = ...,
                    negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ..., threads: int | None = ...,
                    as_frame: bool = ...) -> Any: ...
def binomial_implied_vol(price: _Array, spot: _Array, strike: _Array, rate: _Array,
                         time: _Array, dividend: _Array = ..., *, steps: int,
                         american: bool = ..., kind: _Kind = ..., carry: _Carry = ...,
                         foreign_rate: _Array = ...,
                         negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ...,
                         threads: int | None = ...) -> Any: ...
def bjs_price(spot: _Array, strike: _Array, rate: _Array, time: _Array, vol: _Array,
              dividend: _Array = ..., *, kind: _Kind = ..., carry: _Carry = ...,
              foreign_rate: _Array = ..., negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ...,
              threads: int | None = ...) -> Any: ...
def bjs_greeks(spot: _Array, strike: _Array, rate: _Array, time: _Array, vol: _Array,
               dividend: _Array = ..., *, carry: _Carry = ..., foreign_rate: _Array = ...,
               negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ..., threads: int | None = ...,
               as_frame: bool = ...) -> Any: ...
def bjs_implied_vol(price: _Array, spot: _Array, strike: _Array, rate: _Array, time: _Array,
                    dividend: _Array = ..., *, kind: _Kind = ..., carry: _Carry = ...,
                    foreign_rate: _Array = ..., max_iter: int = ...,
                    negative_rates: bool = ...,
             errors: Literal["nan", "return", "raise"] = ...,
                    threads: int | None = ...) -> Any: ...
def historical_volatility(prices: _Array | pd.DataFrame, trading_days: int = ..., axis: int = ...,
                          *, skipna: bool = ..., errors: Literal["nan", "return", "raise"] = ...,
                          threads: int | None = ...) -> Any: ...
